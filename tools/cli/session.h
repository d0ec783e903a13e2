// The device one run of uvc-hid works on: the device host, the command protocol and the
// flash programmer composed over the console reporter, as the dialog composes them. Open
// finds the device the options name, opens it and claims it for the whole run, so no
// other program's frames come between this run's.
#pragma once

#include <string>

#include "flash/flash_programmer.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/console_reporter.h"

namespace cli {

class Session {
public:
    explicit Session(ConsoleReporter& console);
    ~Session();  // lets go of the claim, the file slot and the device
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // --device, Open Device and the claim. False when the command cannot run; the
    // console's outcome then says why.
    bool Open(const Options& options);
    // An interface was opened, also one whose reports cannot serve the commands.
    bool DeviceOpened() const { return host.IsDeviceOpen() != 0; }
    std::string DevicePath() const;
    const HidDevice& Device() const { return host.OpenedDevice(); }

    CommandProtocol& Protocol() { return protocol; }
    FlashProgrammer& Programmer() { return programmer; }

private:
    // The interface --device names, and its ids unless the command line gave them.
    bool ChooseDevice(const Options& options, DeviceQuery& query);

    ConsoleReporter& console;
    HidDeviceHost host;
    CommandProtocol protocol;
    FlashProgrammer programmer;
    bool claimed = false;
};

}  // namespace cli
