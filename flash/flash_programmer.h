// Flash programming over the command protocol: the single file slot shared by the burn
// image and the dump file, the burn image in memory, and the Burn and Dump runs. A run is
// given as a request taken when it starts and answers its outcome as a value: the verdict
// boxes to show, what was written, and why a stop request ended it. It starts no thread
// and knows no window; trace lines and slot boxes go to the reporter.
//
// Failure convention: the file functions answer as their Win32 namesakes (counts moved,
// HRESULTs); the picks and checks answer whether they accepted.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/report.h"
#include "core/result.h"
#include "flash/flash_layout.h"
#include "platform/win/handles.h"
#include "protocol/command_protocol.h"

// The one file slot. It holds regular files only: a pipe, socket, device node or folder is
// refused before it is opened, so a pick never blocks. A dump is written to a temporary
// file beside its target (`pending`) and renamed over the target only when it completed;
// until then the target keeps what it held.
struct FlashFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;  // UTF-8; fewer than 260 characters
    bool forRead = false;
    std::string pending;  // a dump's temporary file, until committed or removed
    std::string target;   // what the dump replaces: `path` with symbolic links followed
    std::vector<std::uint8_t> staged;  // a dump's chunks not yet written to the file
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
};

// `path` with symbolic links followed as far as they lead, also to a name not created yet.
std::filesystem::path FollowSymlinks(const std::filesystem::path& path);

// The burn image in memory: `bytes` is one longer than the file and zero-filled before
// the read; `length` is the count actually read.
struct BurnImage {
    std::vector<std::uint8_t> bytes;
    ULONG length = 0;
    bool IsLoaded() const { return !bytes.empty(); }
    std::span<std::uint8_t> Data() { return {bytes.data(), length}; }
    std::span<const std::uint8_t> Data() const { return {bytes.data(), length}; }
};

// A range a burn wrote: its flash address (the image offset too), the bytes actually
// moved, and whether the burn's own compare passed over it (and, for the firmware area,
// the update flag was set after it).
struct WrittenSpan {
    ULONG address = 0;
    ULONG length = 0;
    bool compared = false;
};

// What a burn writes: the whole flash (Entire Flash), or the areas chosen under Other Area
// (row i of FlashAreaTable when areas[i]).
struct BurnRequest {
    bool otherArea = false;
    std::array<bool, kFlashAreaCount> areas{};
    bool Chosen(int row) const { return otherArea && areas[static_cast<std::size_t>(row)]; }
};

// How a run ended.
struct RunOutcome {
    bool passed = false;             // the run did what was asked, and its success box is in `boxes`
    std::vector<core::Box> boxes;    // the verdict, to show once the run is over
    std::vector<WrittenSpan> written;  // a burn's writes, in order
    std::string interruption;        // "interrupted: ..." when a stop request ended the run
};

class FlashProgrammer {
public:
    FlashProgrammer(CommandProtocol& protocol, core::Reporter& reporter);
    ~FlashProgrammer();
    FlashProgrammer(const FlashProgrammer&) = delete;
    FlashProgrammer& operator=(const FlashProgrammer&) = delete;

    // The burn pick of `path`: the slot opens it for reading and the image is read from
    // it, or (with `bytes`) is those bytes, already read by the caller, so what it checked
    // is what the burn writes. A path too long for the slot is refused with a box (error
    // ERROR_FILENAME_EXCED_RANGE) and changes nothing; a file that cannot be opened or
    // read leaves the slot closed, and Burn refuses; the error says why, with the OS's words.
    core::Status SelectBurnFile(const std::string& path,
                                std::optional<std::span<const std::uint8_t>> bytes = std::nullopt);
    // The dump pick of `path`: the slot creates the temporary file beside it now, the
    // target untouched. Refusals and errors as SelectBurnFile's.
    core::Status SelectDumpFile(const std::string& path);

    HRESULT OpenFlashFile(bool forRead);
    ULONG ReadFlashFile(std::uint8_t* buffer, ULONG count);
    // Takes a dump's chunk; chunks reach the file 64 KiB at a time. `count` when taken, 0
    // when a write to the file failed (reported, a box for a full disk).
    ULONG WriteFlashFile(const std::uint8_t* buffer, ULONG count);
    // Writes the chunks still held and waits until the file is on the disk. FALSE (last
    // error set, nothing reported) when either step failed.
    BOOL FlushFlashFile();
    // A completed dump: flushes the temporary file, renames it over the target and flushes
    // the folder. FALSE (last error set, a trace line) when any step failed.
    BOOL CommitFlashFile();
    // Closes the slot and forgets the image; a dump not committed is removed and its target
    // left as it was.
    int ReleaseFlashFile();
    HRESULT ReportFileError();

    // Why a burn of `request` or a dump cannot start (the box to show), or nothing when it
    // can: no file of its kind in the slot, no identified flash, or an image the part or the
    // chosen areas cannot take. Nothing is sent to the device.
    std::optional<core::Box> BurnRefusal(const BurnRequest& request) const;
    std::optional<core::Box> DumpRefusal() const;

    // The runs, on the calling thread. The caller holds the device claim for the run and
    // releases the slot after it.
    RunOutcome Burn(const BurnRequest& request);
    RunOutcome Dump();

    const FlashFile& File() const { return flashFile; }
    const BurnImage& Image() const { return burnImage; }
    CommandProtocol& Protocol() { return protocol; }

private:
    // Why the loaded image cannot serve `request` (flash/burn_engine.cpp), or null when it can.
    const char* ImageProblem(const BurnRequest& request) const;
    // Writes the dump's chunks held so far; false (last error set) when the file took less.
    bool WriteStaged();

    friend class BurnEngine;
    friend class DumpEngine;

    CommandProtocol& protocol;
    core::Reporter& reporter;
    FlashFile flashFile;
    BurnImage burnImage;
};
