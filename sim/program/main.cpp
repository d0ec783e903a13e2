// uvc_hid_sim: the simulated device as a program of its own, published over a Unix socket
// in the per-user runtime directory, where the tool's enumeration finds it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid/hid_transport.h"
#include "platform/hid/transport_socket.h"
#include "platform/win/text.h"
#include "sim/simulated_device.h"
#include "sim/socket_server.h"
#ifdef UVC_SIM_USBREDIR
#include "sim/usb/usbredir_front.h"
#endif

namespace {

struct Options {
    sim::Config config;
    std::string name;
    std::string image, saveFlash, saveLog;
    std::string usbredir, saveSetupLog;
    bool interruptOut = false;
    std::optional<std::uint64_t> failTransfer, unplugAfter;
    std::optional<std::pair<std::uint64_t, std::size_t>> corruptRead;
    std::chrono::microseconds delay{0};
    sim::PaceKind pace = sim::PaceKind::Exact;
    std::optional<std::uint16_t> getIdAnswer;
    std::optional<std::size_t> truncateInput;
    std::size_t appendJunk = 0;
};

template <class T>
bool Number(std::string_view text, T& out, int base = 10) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Splits "a<sep>b" into its two halves.
bool Split(std::string_view text, char sep, std::string_view& a, std::string_view& b) {
    auto at = text.find(sep);
    if (at == std::string_view::npos) return false;
    a = text.substr(0, at);
    b = text.substr(at + 1);
    return true;
}

sim::ReportConfig* ReportByKind(sim::Config& config, std::string_view kind) {
    static constexpr std::string_view kKinds[] = {"flash", "control", "iic"};
    for (std::size_t i = 0; i < sim::kReportKinds; ++i) {
        if (kind == std::string(kKinds[i]) + "-out") return &config.output[i];
        if (kind == std::string(kKinds[i]) + "-in") return &config.input[i];
    }
    return nullptr;
}

bool ParseHexBytes(std::string_view text, std::uint8_t* out, std::size_t count) {
    if (text.size() != 2 * count) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (!Number(text.substr(2 * i, 2), out[i], 16)) return false;
    return true;
}

// One command-line option: its name; its argument as the usage names it (none for a flag);
// its help text, whose later lines continue in the help column (an empty text puts the
// option on the line of the next one, as --vid, --pid and --version share one); what it
// sets, false for a value it does not take (none for --help); and the usage section it
// opens. The usage text and the parsing both come from these rows.
struct OptionRow {
    const char* name;
    const char* argument;
    std::string help;
    bool (*set)(Options& o, std::string_view value);
    const char* section = nullptr;
};

std::string DefaultIdsHelp() {
    char text[64];
    std::snprintf(text, sizeof text, "USB ids (default %04x / %04x / %04x)", sim::kDefaultIds.vendorId,
                  sim::kDefaultIds.productId, sim::Config{}.versionNumber);
    return text;
}

bool ParseReport(Options& o, std::string_view value) {
    std::string_view kind, rest, id, count;
    sim::ReportConfig* report = nullptr;
    return Split(value, '=', kind, rest) && (report = ReportByKind(o.config, kind)) != nullptr &&
           Split(rest, ':', id, count) && Number(id, report->id, 16) && Number(count, report->count);
}

bool ParseFirmwareVersion(Options& o, std::string_view value) {
    bool ok = true;
    std::string_view rest = value;
    for (std::size_t i = 0; i < 4 && ok; ++i) {
        std::string_view part = rest;
        if (i < 3) ok = Split(rest, '.', part, rest);
        ok = ok && Number(part, o.config.firmwareVersion[i], 16);
    }
    return ok;
}

bool ParseIicDevices(Options& o, std::string_view value) {
    bool ok = true;
    o.config.iicDevices.clear();
    std::string_view rest = value;
    while (ok && !rest.empty()) {
        std::string_view part = rest;
        if (!Split(rest, ',', part, rest)) rest = {};
        sim::IicDeviceConfig device;
        ok = Number(part, device.address, 16);
        o.config.iicDevices.push_back(device);
    }
    return ok;
}

bool ParseGpioIn(Options& o, std::string_view value) {
    std::string_view a, b;
    std::uint8_t pin = 0, level = 0;
    bool ok = Split(value, '=', a, b) && Number(a, pin) && Number(b, level) && pin < sim::kGpioPins && level <= 1;
    if (ok) o.config.gpioExternalLevels[pin] = level;
    return ok;
}

bool ParseCorruptRead(Options& o, std::string_view value) {
    std::string_view a, b;
    auto& fault = o.corruptRead.emplace();
    return Split(value, ':', a, b) && Number(a, fault.first) && Number(b, fault.second) && fault.first > 0;
}

// Printable text that a string descriptor holds: no control characters, valid UTF-8
// (it must come back from UTF-16 unchanged), at most sim::kMaxStringLength characters.
bool ParseSerial(Options& o, std::string_view value) {
    if (std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        return false;
    o.config.serialNumber = Utf8ToUtf16(value);
    return o.config.serialNumber.size() <= sim::kMaxStringLength && Utf16ToUtf8(o.config.serialNumber) == value;
}

// A path option: any text but the empty one.
template <std::string Options::*kPath>
bool SetPath(Options& o, std::string_view value) {
    return !(o.*kPath = value).empty();
}

const std::vector<OptionRow>& OptionTable() {
    static const std::vector<OptionRow> rows = {
        {"--vid", "HEX", "", [](Options& o, std::string_view v) { return Number(v, o.config.vendorId, 16); },
         "Device:"},
        {"--pid", "HEX", "", [](Options& o, std::string_view v) { return Number(v, o.config.productId, 16); }},
        {"--version", "HEX", DefaultIdsHelp(),
         [](Options& o, std::string_view v) { return Number(v, o.config.versionNumber, 16); }},
        {"--serial", "TEXT", "USB serial number string (default SIM0001;\n\"\" for none)", ParseSerial},
        {"--port-path", "BUS-PORT[.PORT...]", "USB port path to present (1-2.3; default\nnone)",
         [](Options& o, std::string_view v) {
             o.config.portPath = Utf8ToUtf16(v);
             return hidtransport::IsUsbPortPath(o.config.portPath);
         }},
        {"--part-row", "N", "flash part table row (default 29, 8 MiB)",
         [](Options& o, std::string_view v) { return Number(v, o.config.partRow); }},
        {"--report", "KIND=ID:COUNT",
         "report ID (HEX) and report count of a report;\n"
         "KIND: flash-out control-out iic-out\n"
         "      flash-in control-in iic-in",
         ParseReport},
        {"--omit-report", "KIND", "leave a report out of the descriptor",
         [](Options& o, std::string_view v) {
             sim::ReportConfig* report = ReportByKind(o.config, v);
             if (report) report->declared = false;
             return report != nullptr;
         }},
        {"--fw-version", "HEX.HEX.HEX.HEX", "firmware version bytes (default 01.00.1a.05)", ParseFirmwareVersion},
        {"--hdmi", "HEX", "the 24 HDMI information bytes (48 digits)",
         [](Options& o, std::string_view v) {
             return ParseHexBytes(v, o.config.hdmiInfo.data(), o.config.hdmiInfo.size());
         }},
        {"--hdcp", "on|off", "HDCP key use at start (default on)",
         [](Options& o, std::string_view v) {
             o.config.hdcpEnabled = v == "on";
             return v == "on" || v == "off";
         }},
        {"--iic-devices", "HEX,HEX,...", "IIC device addresses (\"\" for none; default 90)", ParseIicDevices},
        {"--gpio-in", "PIN=LEVEL", "level an input pin reads (default 0)", ParseGpioIn},
        {"--lax-padding", nullptr, "accept nonzero bytes after a frame",
         [](Options& o, std::string_view) {
             o.config.strictPadding = false;
             return true;
         }},
        {"--image", "FILE", "flash contents at start (the rest erased)", SetPath<&Options::image>},
        {"--log-limit", "N", "transfer records kept for --save-log\n(default 65536)",
         [](Options& o, std::string_view v) { return Number(v, o.config.logLimit); }},
        {"--name", "NAME", "socket file name (default sim-<pid>.sock)",
         [](Options& o, std::string_view v) {
             o.name = v;
             return simsocket::IsValidSocketName(v);
         },
         "Program:"},
        {"--save-flash", "FILE", "write the flash contents here at exit", SetPath<&Options::saveFlash>},
        {"--save-log", "FILE", "write the transfer log here at exit", SetPath<&Options::saveLog>},
        {"--usbredir", "SOCKET",
         "serve the device as a USB HID device to a\n"
         "usbredir peer (QEMU's usb-redir) on SOCKET",
         SetPath<&Options::usbredir>, "USB (instead of the Unix socket publication):"},
        {"--interrupt-out", nullptr, "give the interface an interrupt OUT endpoint",
         [](Options& o, std::string_view) {
             o.interruptOut = true;
             return true;
         }},
        {"--save-setup-log", "FILE", "write each control request's setup fields here", SetPath<&Options::saveSetupLog>},
        {"--fail-transfer", "N", "the Nth transfer fails",
         [](Options& o, std::string_view v) { return Number(v, o.failTransfer.emplace()) && *o.failTransfer > 0; },
         "Faults:"},
        {"--unplug-after", "N", "every transfer after the Nth fails as unplugged",
         [](Options& o, std::string_view v) { return Number(v, o.unplugAfter.emplace()); }},
        {"--corrupt-read", "K:I", "flip byte I of the Kth flash read chunk", ParseCorruptRead},
        {"--delay-ms", "N", "delay every transfer by N ms",
         [](Options& o, std::string_view v) {
             std::uint32_t ms = 0;
             if (!Number(v, ms) || ms > 60000) return false;
             o.delay = std::chrono::milliseconds(ms);
             o.pace = sim::PaceKind::Exact;
             return true;
         }},
        {"--pace-us", "N",
         "every transfer takes N us of the device's\n"
         "time, slept as a device the host waits on\n"
         "(the processor stays free for others)",
         [](Options& o, std::string_view v) {
             std::uint32_t us = 0;
             if (!Number(v, us) || us > 60000000) return false;
             o.delay = std::chrono::microseconds(us);
             o.pace = sim::PaceKind::Idle;
             return true;
         }},
        {"--get-id-answer", "N", "Get ID answers N (0..65535)",
         [](Options& o, std::string_view v) { return Number(v, o.getIdAnswer.emplace()); }},
        {"--truncate-input", "K", "cut every input answer to K bytes",
         [](Options& o, std::string_view v) { return Number(v, o.truncateInput.emplace()); }},
        {"--append-junk", "M", "append M junk bytes to every input answer",
         [](Options& o, std::string_view v) { return Number(v, o.appendJunk) && o.appendJunk <= 4096; }},
        {"--help", nullptr, "this text", nullptr},
    };
    return rows;
}

const OptionRow* FindOption(std::string_view name) {
    for (const OptionRow& row : OptionTable())
        if (name == row.name) return &row;
    return nullptr;
}

constexpr const char* kUsageHead = R"(usage: uvc_hid_sim [options]
Publishes a simulated UVC HID bridge device on a Unix socket in
$XDG_RUNTIME_DIR/uvc-hid-sim/ (or /tmp/uvc-hid-sim-<uid>/) and serves it until SIGINT or
SIGTERM. Numbers are hexadecimal where marked HEX, decimal otherwise.

)";

std::string Usage() {
    constexpr std::size_t kHelpColumn = 42;
    std::string text = kUsageHead, line;
    for (const OptionRow& row : OptionTable()) {
        if (row.section) text += std::string(row.section) + '\n';
        line += "  " + std::string(row.name) + (row.argument ? " " + std::string(row.argument) : "");
        if (row.help.empty()) continue;
        line.resize(std::max(line.size() + 1, kHelpColumn), ' ');
        std::string_view help = row.help;
        for (std::string_view rest; !help.empty(); help = rest) {
            std::string_view first = help;
            if (!Split(help, '\n', first, rest)) rest = {};
            text += line + std::string(first) + '\n';
            line.assign(kHelpColumn, ' ');
        }
        line.clear();
    }
    return text;
}

std::string Reason(int error) { return std::strerror(error); }

// The flash image: a regular file no larger than the flash. Opened without blocking and
// checked before reading, so a FIFO or a device is refused instead of waited on or read
// without end.
bool LoadImage(const std::string& path, sim::SimulatedDevice& device, std::string& error) {
    const std::size_t capacity = device.Geometry().totalSize;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = Reason(errno);
        return false;
    }
    std::vector<std::uint8_t> image;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = Reason(errno);
    } else if (S_ISDIR(st.st_mode)) {
        error = Reason(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
    } else if (static_cast<std::uintmax_t>(st.st_size) > capacity) {
        error = std::to_string(st.st_size) + " bytes, larger than the flash (" + std::to_string(capacity) + " bytes)";
    } else {
        // Reads one byte beyond the flash at most, to see a file that grew meanwhile.
        image.resize(capacity + 1);
        std::size_t got = 0;
        while (got < image.size()) {
            const ssize_t n = read(fd, image.data() + got, image.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = Reason(errno);
                break;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (error.empty() && got > capacity) error = "larger than the flash (" + std::to_string(capacity) + " bytes)";
        image.resize(std::min(got, capacity));
    }
    close(fd);
    if (!error.empty()) return false;
    if (!device.LoadFlash(image)) {
        error = "refused by the flash";
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A file written at exit, checked before serving so that a path that cannot take it
// fails now instead of losing the data at exit: a regular file (a symbolic link is
// followed to one) or a new name, in a folder where a file can be created (tried).
bool CheckSavePath(std::string& path, std::string& error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) == nullptr) {
            error = Reason(errno);
            return false;
        }
        path = resolved;
    }
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = Reason(EISDIR);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            error = "not a regular file";
            return false;
        }
    } else if (errno != ENOENT) {
        error = Reason(errno);
        return false;
    }
    std::string probe = FolderOf(path) + "/.uvc_hid_sim.XXXXXX";
    const int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create a file in " + FolderOf(path) + ": " + Reason(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

// Writes `bytes` to a temporary file beside `path` and renames it over `path`, so that
// the old file stays whole until the new one is. The new file keeps the old one's mode.
bool SaveAtomically(const std::string& path, std::string_view bytes, std::string& error) {
    std::string temporary = FolderOf(path) + "/.uvc_hid_sim.XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = Reason(errno);
        return false;
    }
    struct stat st {};
    mode_t mode = 0;
    if (stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    int failure = fchmod(fd, mode) == 0 ? 0 : errno;
    for (std::size_t done = 0; failure == 0 && done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0 || errno != EINTR)
            failure = n == 0 ? EIO : errno;
    }
    if (failure == 0 && fsync(fd) != 0) failure = errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        error = Reason(failure);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = Reason(errno) + "; the data are in " + temporary;  // kept: nothing is lost
        return false;
    }
    return true;
}

std::string FlashText(const std::vector<std::uint8_t>& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string LogText(const std::vector<sim::TransferRecord>& log) {
    std::string text;
    for (const sim::TransferRecord& record : log) text += sim::FormatRecord(record) + '\n';
    return text;
}

std::string LinesText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + '\n';
    return text;
}

void Ready(const std::string& where) {
    std::printf("uvc_hid_sim ready: %s\n", where.c_str());
    std::fflush(stdout);
}

// Publishes the device on a Unix socket of the runtime directory until a stop signal.
int ServeSocket(Options& options, const std::shared_ptr<sim::SimulatedDevice>& device, const sigset_t& stopSignals) {
    std::string directory, error;
    if (simsocket::RuntimeDirectory(true, directory) != ERROR_SUCCESS) {
        std::fprintf(stderr, "uvc_hid_sim: no usable runtime directory (%s)\n", directory.c_str());
        return 1;
    }
    if (options.name.empty()) options.name = "sim-" + std::to_string(getpid()) + ".sock";
    // Every connection takes a descriptor: allow as many as the server may keep.
    if (rlimit limit{}; getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, sim::kMaxConnectionsCap + 256);
        if (limit.rlim_cur > 0) setrlimit(RLIMIT_NOFILE, &limit);
    }
    auto server = sim::SocketServer::Start(device, device->Info(), directory + "/" + options.name, error);
    if (!server) {
        std::fprintf(stderr, "uvc_hid_sim: %s\n", error.c_str());
        return 1;
    }
    Ready(server->SocketPath());
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server->Stop();
    return 0;
}

// Serves the device as a USB device to a usbredir peer until a stop signal.
int ServeUsb(const Options& options, const std::shared_ptr<sim::SimulatedDevice>& device, const sigset_t& stopSignals,
             std::vector<std::string>& setupLog) {
#ifdef UVC_SIM_USBREDIR
    std::string error;
    auto usb = std::make_shared<simusb::UsbDevice>(device, simusb::UsbOptions{options.interruptOut});
    auto front = simusb::UsbRedirFront::Start(usb, options.usbredir, error);
    if (!front) {
        std::fprintf(stderr, "uvc_hid_sim: %s\n", error.c_str());
        return 1;
    }
    Ready(options.usbredir);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    front->Stop();
    setupLog = front->SetupLog();
    return 0;
#else
    (void)device;
    (void)stopSignals;
    (void)setupLog;
    std::fprintf(stderr, "uvc_hid_sim: built without libusbredirparser; --usbredir %s is not available\n",
                 options.usbredir.c_str());
    return 1;
#endif
}

void ApplyFaults(const Options& o, sim::SimulatedDevice& device) {
    if (o.failTransfer) device.FailTransfer(*o.failTransfer);
    if (o.unplugAfter) device.UnplugAfter(*o.unplugAfter);
    if (o.corruptRead) device.CorruptReadChunk(o.corruptRead->first, o.corruptRead->second);
    device.SetDelay(o.delay, o.pace);
    device.SetGetIdAnswer(o.getIdAnswer);
    device.SetInputTruncation(o.truncateInput);
    device.SetInputJunk(o.appendJunk);
}

int Run(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        const OptionRow* row = FindOption(name);
        if (row && !row->set) {
            std::fputs(Usage().c_str(), stdout);
            return 0;
        }
        // Every option but a flag takes a value; an unknown one is taken to have one too.
        std::string_view value;
        if (!row || row->argument) {
            if (++i >= argc) {
                std::fprintf(stderr, "uvc_hid_sim: %s needs a value (see --help)\n", name);
                return 2;
            }
            value = argv[i];
        }
        if (!row) {
            std::fprintf(stderr, "uvc_hid_sim: unknown option %s (see --help)\n", name);
            return 2;
        }
        if (!row->set(options, value)) {
            std::fprintf(stderr, "uvc_hid_sim: bad value for %s: %s (see --help)\n", name, argv[i]);
            return 2;
        }
    }
    // Only a saved log shows the transfer records: without one, none are kept.
    if (options.saveLog.empty()) options.config.logLimit = 0;
    std::string error;
    auto device = sim::SimulatedDevice::Create(options.config, error);
    if (!device) {
        std::fprintf(stderr, "uvc_hid_sim: %s\n", error.c_str());
        return 2;
    }
    if (!options.image.empty() && !LoadImage(options.image, *device, error)) {
        std::fprintf(stderr, "uvc_hid_sim: cannot load %s into the flash: %s\n", options.image.c_str(), error.c_str());
        return 1;
    }
    for (std::string* path : {&options.saveFlash, &options.saveLog, &options.saveSetupLog}) {
        if (path->empty()) continue;
        const std::string given = *path;
        if (!CheckSavePath(*path, error)) {
            std::fprintf(stderr, "uvc_hid_sim: cannot write %s: %s\n", given.c_str(), error.c_str());
            return 1;
        }
    }
    ApplyFaults(options, *device);

    // Signals are taken by sigwait below; block them before any thread exists.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> setupLog;
    int served = options.usbredir.empty() ? ServeSocket(options, device, stopSignals)
                                          : ServeUsb(options, device, stopSignals, setupLog);
    if (served != 0) return served;

    int status = 0;
    auto save = [&](const std::string& path, const std::string& bytes) {
        if (path.empty() || SaveAtomically(path, bytes, error)) return;
        std::fprintf(stderr, "uvc_hid_sim: cannot write %s: %s\n", path.c_str(), error.c_str());
        status = 1;
    };
    save(options.saveFlash, FlashText(device->FlashContents()));
    save(options.saveLog, LogText(device->Log()));
    save(options.saveSetupLog, LinesText(setupLog));
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "uvc_hid_sim: %s\n", failure.what());
    } catch (...) {
        std::fprintf(stderr, "uvc_hid_sim: unexpected failure\n");
    }
    return 1;
}
