// The USB front of the simulator: serves a UsbDevice to one usbredir peer (QEMU's usb-redir
// device) over a Unix socket it listens on, as the "usb host" side of the protocol. A
// model transfer that fails as unplugged fails as a transaction error and disconnects the
// device from the peer, as pulling the cable would.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/usb/usb_device.h"

namespace simusb {

class UsbRedirFront {
public:
    // Listens on `socketPath` (replacing a stale socket file) and serves from a thread of
    // its own. Null, with the reason in `error`, when the socket cannot be set up.
    static std::unique_ptr<UsbRedirFront> Start(std::shared_ptr<UsbDevice> device, std::string socketPath,
                                                std::string& error);
    ~UsbRedirFront();
    UsbRedirFront(const UsbRedirFront&) = delete;
    UsbRedirFront& operator=(const UsbRedirFront&) = delete;

    // Ends the session and the thread, removes the socket file. Idempotent.
    void Stop();
    // The setup fields and outcome of every control request served so far.
    std::vector<std::string> SetupLog() const;

    struct Session;
    UsbRedirFront(std::shared_ptr<UsbDevice> device, std::string socketPath, int listenFd, int stopFd[2]);

private:
    void Serve();
    void Note(std::string line);

    std::shared_ptr<UsbDevice> device_;
    std::string socketPath_;
    int listenFd_;
    int stopRead_;
    int stopWrite_;
    std::thread thread_;
    mutable std::mutex logLock_;
    std::vector<std::string> setupLog_;

    friend struct Session;
};

}  // namespace simusb
