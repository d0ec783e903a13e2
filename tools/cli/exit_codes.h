// The exit status of uvc-hid. Each failure kind has its own code so that a production
// line's script can tell a bad board from a bad file or a wrong invocation.
#pragma once

namespace cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitDeviceError = 1,  // the device failed a command or stopped answering
    kExitUsage = 2,        // the command line is wrong
    kExitNoDevice = 3,     // no HID interface with the wanted ids, or --device names none
    kExitCompare = 4,      // the flash differs from the image
    kExitFileError = 5,    // an image, dump, backup or log file could not be read or written
    kExitRefused = 6,      // refused before anything was written: the image cannot serve the choice
    kExitBusy = 7,         // another process holds the device (its process id is in the message)
};

// A write to standard output or standard error failed (a closed pipe, a full disk), so
// the run's report did not reach its reader: a run that had passed does not answer 0.
inline constexpr int kExitOutput = 8;

// Several boards match and no --device chose one: nothing was sent to any of them; the
// message lists the candidates with the --device text that names each.
inline constexpr int kExitAmbiguous = 9;

// A run that SIGINT, SIGTERM or SIGHUP stopped answers 128 plus the signal's number, as a
// shell reports a program such a signal ended: 130, 143, 129. The run stops where it can
// stop safely first: a burn finishes the write in progress at the first signal.
inline constexpr int kExitInterrupted = 128;
constexpr int InterruptedExit(int signal) { return kExitInterrupted + signal; }

}  // namespace cli
