// Serves one device handler over a Unix-domain socket, the server end of the simulator
// socket transport (platform/hid/transport_socket.h has the wire format). Each client
// connection has its own thread; transfers from all of them reach the handler one at a
// time. A malformed or oversized message closes that connection and nothing else.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/hid/transport_socket.h"
#include "platform/hid/virtual_device.h"

namespace sim {

inline constexpr std::size_t kMaxClientConnections = 16;

class SocketServer {
public:
    // Listens at socketPath. A socket file already there whose connect is refused (its
    // simulator died) is replaced; one that answers is left alone and Start fails.
    static std::unique_ptr<SocketServer> Start(std::shared_ptr<vhid::DeviceHandler> handler, vhid::DeviceInfo info,
                                               const std::string& socketPath, std::string& error);
    ~SocketServer();
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Closes every connection, joins the threads and removes the socket file. Idempotent.
    void Stop();
    const std::string& SocketPath() const { return path_; }

private:
    struct Client {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    SocketServer(std::shared_ptr<vhid::DeviceHandler> handler, vhid::DeviceInfo info, std::string path, int listenFd,
                 int wakeRead, int wakeWrite);
    void AcceptLoop();
    void Serve(Client& client);
    // The reply to one request; false for a request that closes the connection.
    bool Dispatch(const simsocket::Message& request, std::vector<std::uint8_t>& reply);
    void ReapFinished();

    std::shared_ptr<vhid::DeviceHandler> handler_;
    vhid::DeviceInfo info_;
    std::string path_;
    int listenFd_;
    int wakeRead_, wakeWrite_;  // written once on Stop: wakes every wait
    std::mutex transfer_;       // one transfer at a time
    std::mutex clientsLock_;
    std::list<Client> clients_;
    std::thread acceptor_;
    std::atomic<bool> stopped_{false};
};

}  // namespace sim
