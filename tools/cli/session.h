// The device one run of uvc-hid works on: the device host, the command protocol and the
// flash programmer composed over the console reporter, as the dialog composes them. Open
// finds the device the options name, opens it and claims it for the whole run, so no
// other program's frames come between this run's.
#pragma once

#include <string>
#include <vector>

#include "flash/flash_programmer.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/console_reporter.h"
#include "tools/cli/device_choice.h"

namespace cli {

class Session {
public:
    explicit Session(ConsoleReporter& console);
    ~Session();  // lets go of the claim, the file slot and the device
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // --device, Open Device and the claim. False when the command cannot run; the
    // console's outcome then says why. Without --device, a second board with the ids is
    // refused as ambiguous (Candidates() lists them), so a board is never taken by chance.
    bool Open(const Options& options);
    // The station's way: the interfaces of one board, known already, tried in order.
    bool OpenBoard(const Options& options, const std::vector<InterfaceEntry>& board);
    // The boards an ambiguous choice could have meant, one interface each.
    const std::vector<InterfaceEntry>& Candidates() const { return candidates; }
    // The opened board's USB port path and serial number, empty when it has none.
    const std::string& PortPath() const { return opened.portPath; }
    const std::string& Serial() const { return opened.serial; }
    // An interface was opened, also one whose reports cannot serve the commands.
    bool DeviceOpened() const { return host.IsDeviceOpen() != 0; }
    std::string DevicePath() const;
    const HidDevice& Device() const { return host.OpenedDevice(); }

    CommandProtocol& Protocol() { return protocol; }
    FlashProgrammer& Programmer() { return programmer; }

private:
    // What Open Device is asked, one query per interface to try: those --device names,
    // each with its ids unless the command line gave them; else the ids alone.
    bool ChooseDevice(const Options& options, std::vector<DeviceQuery>& queries);
    // Open Device on each query until an interface can serve, then the claim.
    bool OpenFirst(const std::vector<DeviceQuery>& queries);
    bool SamePlugInAsLooked() const;

    ConsoleReporter& console;
    std::vector<InterfaceEntry> present;  // as enumerated before the open
    std::vector<InterfaceEntry> candidates;
    InterfaceEntry opened;
    HidDeviceHost host;
    CommandProtocol protocol;
    FlashProgrammer programmer;
    bool claimed = false;
};

}  // namespace cli
