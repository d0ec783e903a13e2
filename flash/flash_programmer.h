// The dialog's share of flash programming: the single file slot shared by the burn image
// and the dump file, the burn image in memory, the two "..." picks, and the Burn and Dump
// handlers with their worker threads. The main dialog inherits it.
//
// Failure convention: the file functions answer as their Win32 namesakes (counts moved,
// HRESULTs); handlers report to the user through the window services and answer nothing.
//
// Workers: Burn and Dump each start one worker thread that the dialog owns. While it runs,
// every control that could send a device command, pick or release a file, change the Burn
// Area choice or start another run is disabled, and restored on every way out of the
// worker; the dialog never frees the device, the buffers, the image or the file under it.
#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "flash/flash_layout.h"
#include "platform/win/handles.h"
#include "protocol/command_protocol.h"

// The dialog's one file slot. It holds regular files only: a pipe, socket, device node or
// folder is refused before it is opened, so a pick never blocks. A dump is written to a
// temporary file beside its target (`pending`) and renamed over the target only when it
// completed; until then the target keeps what it held.
struct FlashFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;  // UTF-8; fewer than 260 characters
    bool forRead = false;
    std::string pending;  // a dump's temporary file, until committed or removed
    std::string target;   // what the dump replaces: `path` with symbolic links followed
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
};

// A range a burn wrote: its flash address (the image offset too), the bytes actually
// moved, and whether the burn's own compare passed over it (and, for the firmware area,
// the update flag was set after it).
struct WrittenSpan {
    ULONG address = 0;
    ULONG length = 0;
    bool compared = false;
};

class FlashProgrammer : public CommandProtocol {
public:
    explicit FlashProgrammer(ui::WindowServices& windows);
    ~FlashProgrammer() override;  // waits for a worker that is still running

    // File picks and the file slot.
    void OnBrowseBurnFile();
    void OnBrowseDumpFile();
    // As the burn pick of `path`, but the image is `bytes`, already read by the caller: what
    // it checked is what the burn writes, whatever the file holds by then.
    void UseBurnImage(const std::string& path, std::span<const std::uint8_t> bytes);
    HRESULT OpenFlashFile(bool forRead);
    ULONG ReadFlashFile(std::uint8_t* buffer, ULONG count);
    ULONG WriteFlashFile(const std::uint8_t* buffer, ULONG count) override;
    // A completed dump: flushes the temporary file, renames it over the target and flushes
    // the folder. FALSE (last error set, a trace line) when any step failed.
    BOOL CommitFlashFile();
    // Closes the slot; a dump not committed is removed and its target left as it was.
    int ReleaseFlashFile();
    HRESULT ReportFileError();

    // Burn and Dump.
    void OnBurn();
    void OnDump();

    // True from the start of a worker until its end step has restored the controls.
    bool IsRunning() const { return running.load(std::memory_order_acquire); }
    // Waits for every worker started so far (the closing path, tests).
    void JoinWorkers();

    // Of the last run, read once its worker has been joined: what the burn wrote, in
    // order, and why a stop request ended the run ("interrupted: ..."; empty when none did).
    const std::vector<WrittenSpan>& WrittenSpans() const { return writtenSpans; }
    const std::string& Interruption() const { return interruption; }

    const FlashFile& File() const { return flashFile; }
    const BurnImage& Image() const { return burnImage; }

protected:
    static void BurnThreadProc(FlashProgrammer* dialog);
    static void DumpThreadProc(FlashProgrammer* dialog);

    FlashFile flashFile;
    BurnImage burnImage;
    std::uint8_t burnAccessMode = kModeWholeFlash;

private:
    // The burn pick's work once the path is chosen: the image read from the file, or `given`.
    void SelectBurnFile(const std::string& path, std::optional<std::span<const std::uint8_t>> given);

    // Disables the controls a run could be disturbed by, remembering their state; the end
    // step restores them. Called on the dialog's thread before the worker starts.
    void BeginRun();
    void EndRun();

    friend class BurnEngine;
    friend class DumpEngine;
    // Reaps the previous worker in `worker`, then starts `proc` on it under the run guard.
    void StartWorker(std::thread& worker, void (*proc)(FlashProgrammer*));
    // The end step of every worker: releases the file, shows "Status: Wait", restores the
    // controls, disables the worker's start button and clears `running`.
    void EndWorker(int startButton);
    // Refuses, with a message box, a burn the loaded image or the identified part cannot
    // serve for the chosen areas (flash/burn_engine.cpp); nothing is sent to the device.
    bool ReadyToStart(bool burn);
    bool RefuseBurnImage();

    std::thread burnWorker;
    std::thread dumpWorker;
    std::atomic<bool> running{false};
    std::vector<WrittenSpan> writtenSpans;
    std::string interruption;
    std::vector<std::pair<int, bool>> disabledForRun;
};
