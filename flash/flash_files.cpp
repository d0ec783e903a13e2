// The file slot shared by the burn image and the dump file, the two "..." picks, and the
// loading of a burn image with its version.
#include <new>

#include "flash/flash_programmer.h"
#include "platform/win/file_api.h"
#include "platform/win/text.h"
#include "platform/win/win_error.h"
#include "ui/services/control_ids.h"

namespace ids = ui::ids;

namespace {

constexpr const char* kDiskFullText =
    "The disk containing dump file has run out of space, so the dump filter has been stopped.\r\n\r\n"
    "You must set a new dump file name or restart the graph to clear this filter error.";

// Asks the user for a path that the slot can hold. False when the user cancelled, or when
// the path is too long: it is refused whole rather than cut to a name of another file.
bool PickPath(ui::WindowServices& windows, bool fileMustExist, std::string& path) {
    ui::OpenFileRequest request{.filters = {{"All", "*.*"}, {"Text", "*.TXT"}},
                                .pathMustExist = true,
                                .fileMustExist = fileMustExist};
    if (!windows.OpenFileDialog(ui::BoxOwner::Dialog, request, path)) return false;
    if (Utf8ToUtf16(path).size() < ui::kMaxPathChars) return true;
    windows.MessageBox(ui::BoxOwner::Dialog, "The file path is too long !", "Error", ui::Icon::Error);
    return false;
}

// The whole file, zero-filled one byte past its end; the image length is what was read.
void LoadBurnImage(FlashProgrammer& files, HANDLE handle, BurnImage& image, ui::WindowServices& windows) {
    DWORD size = GetFileSize(handle, nullptr);
    if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        files.ReportFileError();
        return;
    }
    try {
        image.bytes.assign(std::size_t{size} + 1, 0);
    } catch (const std::bad_alloc&) {
        image = {};
        windows.Trace("Error allocating memory\n");
        return;
    }
    image.length = files.ReadFlashFile(image.bytes.data(), size);
}

}  // namespace

void FlashProgrammer::OnBrowseBurnFile() {
    std::string path;
    if (!PickPath(windows, true, path)) return;
    flashFile.path = path;
    windows.SetControlText(ids::kBurnFilePath, path);
    windows.EnableControl(ids::kBurn, true);
    windows.EnableControl(ids::kDump, false);
    ReleaseFlashFile();
    // A failed open leaves the slot closed; Burn then refuses for want of a file.
    if (OpenFlashFile(true) == 0 && flashFile.IsOpen()) LoadBurnImage(*this, flashFile.handle, burnImage, windows);
    windows.SetControlText(ids::kImageVersion, FormatImageVersion(burnImage.Data()));
}

void FlashProgrammer::OnBrowseDumpFile() {
    std::string path;
    if (!PickPath(windows, false, path)) return;
    flashFile.path = path;
    windows.SetControlText(ids::kDumpFilePath, path);
    windows.EnableControl(ids::kDump, true);
    windows.EnableControl(ids::kBurn, false);
    ReleaseFlashFile();
    OpenFlashFile(false);  // creates or empties the file now; Dump refuses if this failed
}

HRESULT FlashProgrammer::OpenFlashFile(bool forRead) {
    if (flashFile.IsOpen()) return 0;
    std::u16string path = Utf8ToUtf16(flashFile.path);
    HANDLE handle = CreateFileW(path.c_str(), forRead ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                forRead ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(static_cast<LONG>(GetLastError()));
    flashFile.handle = handle;
    flashFile.forRead = forRead;
    DWORD high = 0;
    DWORD low = GetFileSize(handle, &high);
    windows.Trace(ui::Format("FileSize %s = [%d] [%d]\n", forRead ? "READ" : "WRITE", static_cast<int>(high),
                             static_cast<int>(low)));
    return 0;
}

ULONG FlashProgrammer::ReadFlashFile(std::uint8_t* buffer, ULONG count) {
    if (!flashFile.IsOpen()) return 0;
    DWORD read = 0;
    if (!ReadFile(flashFile.handle, buffer, count, &read, nullptr)) ReportFileError();
    return read;
}

ULONG FlashProgrammer::WriteFlashFile(const std::uint8_t* buffer, ULONG count) {
    if (!flashFile.IsOpen()) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(flashFile.handle, buffer, count, &written, nullptr);
    // Reported before the flush, whose own outcome would replace the write's last error.
    if (!ok || written < count) ReportFileError();
    // Each chunk goes on to the disk at once; waiting for the disk after every chunk would
    // cost a dump a hundred times its transfer time. The dump waits once, at its end.
    FileExt_StartWriteback(flashFile.handle);
    return written;
}

int FlashProgrammer::ReleaseFlashFile() {
    burnImage = {};
    if (flashFile.IsOpen()) {
        FlushFileBuffers(flashFile.handle);
        CloseHandle(flashFile.handle);
    }
    flashFile.handle = INVALID_HANDLE_VALUE;
    return 0;
}

HRESULT FlashProgrammer::ReportFileError() {
    DWORD error = GetLastError();
    if (error == ERROR_DISK_FULL)
        windows.MessageBox(ui::BoxOwner::Dialog, kDiskFullText, "Dump Filter failure", ui::Icon::Warning);
    return HRESULT_FROM_WIN32(static_cast<LONG>(error));
}
