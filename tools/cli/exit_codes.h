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
};

}  // namespace cli
