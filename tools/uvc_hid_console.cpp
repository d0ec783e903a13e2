// A console front end over the dialog's logic: it opens the device with the default (or
// given) identifiers the way Open Device does, then runs the commands named on the command
// line and prints what the dialog's fields would show. Burn and dump run the dialog's own
// handlers and worker; this front end answers the file pick and waits for the worker.
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ui/main_dialog.h"
#include "ui/services/control_ids.h"
#include "ui/services/hex_text.h"
#include "ui/services/stderr_trace.h"

namespace ids = ui::ids;

namespace {

const std::map<int, const char*> kLabels = {
    {ids::kDeviceInfo, "HID Device Info"}, {ids::kDeviceName, "Device Name"},   {ids::kPageSize, "Page Size"},
    {ids::kSectorSize, "Sector Size"},     {ids::kTotalBlock, "Total Block"},   {ids::kDeviceId, "Device ID"},
    {ids::kPagesPerSector, "Pages per Sector"}, {ids::kSectorsPerBlock, "Sectors per block"},
    {ids::kTotalSize, "Total Size"},       {ids::kFirmwareVersion, "Firmware"}, {ids::kHdmiInfo, "HDMI Info"},
};

// Thread-safe: the burn and dump workers call it too.
class ConsoleWindow final : public ui::WindowServices {
public:
    void Trace(std::string_view line) override { ui::WriteTraceLine(line); }
    void MessageBox(ui::BoxOwner, std::string_view text, std::string_view caption, ui::Icon icon) override {
        std::lock_guard guard(lock_);
        std::printf("[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(), static_cast<int>(text.size()),
                    text.data());
        std::fflush(stdout);
        if (icon == ui::Icon::Error) ++errorBoxes_;
        if (icon == ui::Icon::Information) ++infoBoxes_;
    }
    bool HasControl(int) override { return true; }
    std::string GetControlText(int id, int maxCount) override {
        std::lock_guard guard(lock_);
        std::string text = texts_[id];
        if (maxCount <= 0) return {};
        if (text.size() >= static_cast<std::size_t>(maxCount)) text.resize(static_cast<std::size_t>(maxCount - 1));
        return text;
    }
    void SetControlText(int id, std::string_view text) override {
        std::lock_guard guard(lock_);
        texts_[id] = std::string(text);
        auto label = kLabels.find(id);
        if (label != kLabels.end())
            std::printf("%-18s: %.*s\n", label->second, static_cast<int>(text.size()), text.data());
    }
    void EnableControl(int id, bool enable) override {
        std::lock_guard guard(lock_);
        enabled_[id] = enable;
    }
    bool IsControlEnabled(int id) override {
        std::lock_guard guard(lock_);
        auto it = enabled_.find(id);
        return it == enabled_.end() || it->second;
    }
    int GetCheck(int id) override {
        std::lock_guard guard(lock_);
        return checks_[id];
    }
    void SetCheck(int id, int state) override {
        std::lock_guard guard(lock_);
        checks_[id] = state;
    }
    void AddListItem(int, std::string_view) override {}
    void SelectListItem(int, int) override {}
    int GetListSelection(int) override { return -1; }
    void SetProgressRange(int, std::uint32_t total) override {
        std::lock_guard guard(lock_);
        total_ = total;
        shownTenths_ = 0;  // from the first tenth on
    }
    void SetProgressPosition(int, std::uint32_t position) override { ShowProgress(position); }
    void PostProgress(int, int, std::uint32_t done) override { ShowProgress(done); }
    void SetTextLimit(int, int) override {}
    void RequestClose() override { closeRequested = true; }
    void EndDialog(int) override {}
    void ShowAboutBox() override {}
    // The path given on the command line answers the next pick.
    bool OpenFileDialog(ui::BoxOwner, const ui::OpenFileRequest&, std::string& path) override {
        std::lock_guard guard(lock_);
        if (!nextPick_) return false;
        path = nextPick_->substr(0, ui::kMaxPathChars - 1);
        nextPick_.reset();
        return true;
    }
    int ReadProfileInt(std::string_view, std::string_view, int defaultValue) override { return defaultValue; }
    void WriteProfileInt(std::string_view, std::string_view, int) override {}

    void AnswerNextPick(std::string path) {
        std::lock_guard guard(lock_);
        nextPick_ = std::move(path);
    }
    // Boxes shown so far, by kind: a run succeeded when it added an Info box and no Error box.
    std::pair<int, int> BoxCounts() {
        std::lock_guard guard(lock_);
        return {errorBoxes_, infoBoxes_};
    }

    bool closeRequested = false;

private:
    // One line on stderr per tenth of the current burst, with the status it is in.
    void ShowProgress(std::uint32_t done) {
        std::lock_guard guard(lock_);
        if (total_ == 0) return;
        int tenths = static_cast<int>(std::uint64_t{done} * 10 / total_);
        if (tenths <= shownTenths_) return;
        shownTenths_ = tenths;
        std::fprintf(stderr, "%s %u/%u (%d%%)\n", texts_[ids::kStatusText].c_str(), done, total_, tenths * 10);
    }

    std::mutex lock_;
    std::map<int, std::string> texts_;
    std::map<int, int> checks_;
    std::map<int, bool> enabled_;
    std::optional<std::string> nextPick_;
    std::uint32_t total_ = 0;
    int shownTenths_ = -1;
    int errorBoxes_ = 0;
    int infoBoxes_ = 0;
};

void Usage() {
    std::printf(
        "usage: uvc_hid_console [--vid HEX] [--pid HEX] [command ...]\n"
        "Opens the first HID interface with the identifiers (default %04X:%04X), then runs:\n"
        "  get-id | fw-version | hdmi-info | usb-info\n"
        "  reg-read ADDR | reg-write ADDR VALUE\n"
        "  iic-read DEV OFFSET | iic-write DEV OFFSET BYTE\n"
        "  gpio-dir PIN 0|1 | gpio-write PIN LEVEL | gpio-read PIN\n"
        "  hdcp on|off\n"
        "  burn FILE [entire | AREA[,AREA...]]   AREA: firmware, private, customized (default entire)\n"
        "  dump FILE                              the whole flash into FILE\n"
        "Numbers are hexadecimal. Without commands: get-id fw-version hdmi-info.\n"
        "Burn and dump run Get ID first when no flash part is identified; the exit status is\n"
        "non-zero when one of them did not succeed.\n",
        DefaultVendorId, DefaultProductId);
}

const std::set<std::string> kCommandNames = {
    "get-id",   "fw-version", "hdmi-info", "usb-info",  "reg-read",  "reg-write", "iic-read",
    "iic-write", "gpio-dir",  "gpio-write", "gpio-read", "hdcp",      "burn",      "dump",
};

// The Burn Area choice of a burn argument: Entire Flash, or the Other Area boxes by row.
struct AreaChoice {
    bool entire = true;
    bool boxes[kFlashAreaCount] = {};
};

std::optional<AreaChoice> ParseAreaChoice(const std::string& text) {
    static const char* const kAreaNames[kFlashAreaCount] = {"firmware", "private", "customized"};
    AreaChoice choice;
    if (text == "entire") return choice;
    choice.entire = false;
    std::stringstream list(text);
    for (std::string name; std::getline(list, name, ',');) {
        int row = 0;
        while (row < kFlashAreaCount && name != kAreaNames[row]) ++row;
        if (row == kFlashAreaCount) return std::nullopt;
        choice.boxes[row] = true;
    }
    return choice;
}

class Console : public Cuvc_hid_quendaDlg {
public:
    explicit Console(ConsoleWindow& window) : Cuvc_hid_quendaDlg(window), console(window) {}

    bool failed = false;  // a burn or dump did not succeed

    // Runs one command starting at args[i]; answers the arguments it consumed, or 0 when
    // the command is unknown or lacks arguments.
    std::size_t Run(const std::vector<std::string>& args, std::size_t i) {
        const std::string& c = args[i];
        auto arg = [&](std::size_t k) { return ui::ParseHexField(args[i + k]); };
        auto has = [&](std::size_t n) { return i + n < args.size(); };
        if (c == "get-id") return OnGetId(), 1;
        if (c == "fw-version") return OnGetFwVersion(), 1;
        if (c == "hdmi-info") return OnGetHdmiInfo(), 1;
        if (c == "usb-info") return OnTest(), 1;
        if (c == "reg-read" && has(1)) {
            ULONG value = 0;
            if (RegisterCommand(OP_REG_READ, arg(1), value)) std::printf("register %08x = %08x\n", arg(1), value);
            return 2;
        }
        if (c == "reg-write" && has(2)) {
            ULONG value = arg(2);
            if (RegisterCommand(OP_REG_WRITE, arg(1), value)) std::printf("register %08x <- %08x\n", arg(1), value);
            return 3;
        }
        if (c == "iic-read" && has(2)) {
            std::uint8_t data[2] = {static_cast<std::uint8_t>(arg(2) & 0xFF), 0};
            if (IicCommand(OP_IIC_READ, static_cast<std::uint8_t>(arg(1) & 0xFF), 1, data, 1))
                std::printf("iic %02x[%02x] = %02x (return code %02x)\n", arg(1) & 0xFF, arg(2) & 0xFF, data[1], data[0]);
            return 3;
        }
        if (c == "iic-write" && has(3)) {
            std::uint8_t data[2] = {static_cast<std::uint8_t>(arg(2) & 0xFF), static_cast<std::uint8_t>(arg(3) & 0xFF)};
            if (IicCommand(OP_IIC_WRITE, static_cast<std::uint8_t>(arg(1) & 0xFF), 2, data, 0))
                std::printf("iic %02x write: return code %02x\n", arg(1) & 0xFF, data[0]);
            return 4;
        }
        if ((c == "gpio-dir" || c == "gpio-write") && has(2)) {
            auto value = static_cast<std::uint8_t>(arg(2) & 0xFF);
            GpioCommand(c == "gpio-dir" ? OP_GPIO_SET_DIRECTION : OP_GPIO_WRITE, static_cast<std::uint8_t>(arg(1) & 0xFF),
                        value);
            return 3;
        }
        if (c == "gpio-read" && has(1)) {
            std::uint8_t level = 0;
            if (GpioCommand(OP_GPIO_READ, static_cast<std::uint8_t>(arg(1) & 0xFF), level))
                std::printf("gpio %u = %02x\n", arg(1) & 0xFF, level);
            return 2;
        }
        if (c == "hdcp" && has(1) && (args[i + 1] == "on" || args[i + 1] == "off")) {
            bool on = args[i + 1] == "on";
            windows.SetCheck(on ? ids::kEnableHdcpKey : ids::kDisableHdcpKey, 1);
            if (on)
                OnBnClickedRdoEHdcpKey();
            else
                OnBnClickedRdoDHdcpKey();
            return 2;
        }
        if (c == "burn" && has(1)) {
            // The choice is optional, but a word that is neither a command nor a choice is
            // refused rather than taken for Entire Flash.
            bool choiceGiven = has(2) && !kCommandNames.contains(args[i + 2]);
            std::optional<AreaChoice> choice = choiceGiven ? ParseAreaChoice(args[i + 2]) : AreaChoice{};
            if (!choice) return 0;
            Burn(args[i + 1], *choice);
            return choiceGiven ? 3 : 2;
        }
        if (c == "dump" && has(1)) return Dump(args[i + 1]), 2;
        return 0;
    }

private:
    void Burn(const std::string& path, const AreaChoice& choice) {
        windows.SetCheck(ids::kEntireFlash, choice.entire ? 1 : 0);
        windows.SetCheck(ids::kOtherArea, choice.entire ? 0 : 1);
        for (int row = 0; row < kFlashAreaCount; ++row) windows.SetCheck(ids::kFirmwareBox + row, choice.boxes[row]);
        RunWorker(path, &Console::OnBrowseBurnFile, &Console::OnBurn);
    }
    void Dump(const std::string& path) { RunWorker(path, &Console::OnBrowseDumpFile, &Console::OnDump); }

    // Pick, start and wait, as the user would press "...", then Burn or Dump. A refusal
    // shows an Error box; a run that ends without an Info box did not succeed either.
    void RunWorker(const std::string& path, void (Console::*pick)(), void (Console::*start)()) {
        if (IdentifiedPartIndex == kNoIdentifiedPart) OnGetId();
        auto [errorsBefore, infosBefore] = console.BoxCounts();
        console.AnswerNextPick(path);
        (this->*pick)();
        (this->*start)();
        JoinWorkers();
        auto [errors, infos] = console.BoxCounts();
        if (errors != errorsBefore || infos == infosBefore) failed = true;
    }

    ConsoleWindow& console;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string vid = ui::FormatFieldValue(DefaultVendorId, 1, 1), pid = ui::FormatFieldValue(DefaultProductId, 1, 1);
    std::vector<std::string> commands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            Usage();
            return 0;
        }
        if ((args[i] == "--vid" || args[i] == "--pid") && i + 1 < args.size()) {
            (args[i] == "--vid" ? vid : pid) = args[i + 1];
            ++i;
            continue;
        }
        commands.push_back(args[i]);
    }
    if (commands.empty()) commands = {"get-id", "fw-version", "hdmi-info"};

    ConsoleWindow window;
    Console dialog(window);
    window.SetControlText(ids::kVid, vid);
    window.SetControlText(ids::kPid, pid);
    dialog.OnOpenDevice();
    if (window.closeRequested || dialog.IsDeviceOpen() == 0) {
        dialog.OnBnClickedCancel();
        return 1;
    }
    int status = 0;
    for (std::size_t i = 0; i < commands.size();) {
        std::size_t used = dialog.Run(commands, i);
        if (used == 0) {
            std::fprintf(stderr, "unknown command or missing arguments: %s (see --help)\n", commands[i].c_str());
            status = 2;
            break;
        }
        i += used;
    }
    dialog.OnBnClickedOk();
    if (status == 0 && dialog.failed) status = 1;
    return status;
}
