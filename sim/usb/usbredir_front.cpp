#include "sim/usb/usbredir_front.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <usbredirfilter.h>
#include <usbredirparser.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace simusb {
namespace {

// Endpoint table index of the protocol: IN endpoints from 16, OUT endpoints from 0.
int EndpointIndex(std::uint8_t address) { return ((address & 0x80) >> 3) | (address & 0x0F); }

std::uint8_t RedirStatus(Status status) {
    switch (status) {
    case Status::Ok: return usb_redir_success;
    case Status::Stall: return usb_redir_stall;
    case Status::Unplugged: return usb_redir_ioerror;
    }
    return usb_redir_ioerror;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

// One connection of the peer: the parser and its callbacks.
struct UsbRedirFront::Session {
    UsbRedirFront& front;
    int fd;
    usbredirparser* parser = nullptr;
    bool closed = false;        // the peer went away or the socket failed
    bool unplugged = false;     // the device was disconnected from the peer

    Session(UsbRedirFront& f, int socket) : front(f), fd(socket) {}
    ~Session() {
        if (parser) usbredirparser_destroy(parser);
    }

    static Session& Of(void* priv) { return *static_cast<Session*>(priv); }

    static int Read(void* priv, std::uint8_t* data, int count) {
        Session& s = Of(priv);
        ssize_t got = ::recv(s.fd, data, static_cast<std::size_t>(count), 0);
        if (got > 0) return static_cast<int>(got);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        s.closed = true;  // end of stream or a socket error
        return -1;
    }

    static int Write(void* priv, std::uint8_t* data, int count) {
        Session& s = Of(priv);
        ssize_t sent = ::send(s.fd, data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<int>(sent);
        if (errno == EAGAIN || errno == EINTR) return 0;
        s.closed = true;
        return -1;
    }

    static void Log(void*, int level, const char* message) {
        if (level <= usbredirparser_warning) std::fprintf(stderr, "uvc_hid_sim: usbredir: %s\n", message);
    }

    // After the peer's hello: the interface, the endpoints, then the device itself.
    static void Hello(void* priv, usb_redir_hello_header*) {
        Session& s = Of(priv);
        const UsbDevice& device = *s.front.device_;
        usb_redir_interface_info_header interfaces{};
        interfaces.interface_count = 1;
        interfaces.interface_class[0] = 0x03;
        usbredirparser_send_interface_info(s.parser, &interfaces);

        usb_redir_ep_info_header endpoints{};
        std::memset(endpoints.type, usb_redir_type_invalid, sizeof endpoints.type);
        endpoints.type[EndpointIndex(0x00)] = usb_redir_type_control;
        endpoints.type[EndpointIndex(0x80)] = usb_redir_type_control;
        endpoints.max_packet_size[EndpointIndex(0x00)] = kMaxPacketSize;
        endpoints.max_packet_size[EndpointIndex(0x80)] = kMaxPacketSize;
        std::uint8_t interrupt[2] = {kInterruptInEndpoint, kInterruptOutEndpoint};
        for (int i = 0; i < (device.HasInterruptOut() ? 2 : 1); ++i) {
            int index = EndpointIndex(interrupt[i]);
            endpoints.type[index] = usb_redir_type_interrupt;
            endpoints.interval[index] = kInterruptInterval;
            endpoints.max_packet_size[index] = kMaxPacketSize;
        }
        usbredirparser_send_ep_info(s.parser, &endpoints);

        const sim::Config& c = device.Configuration();
        usb_redir_device_connect_header connect{};
        connect.speed = usb_redir_speed_high;
        connect.vendor_id = c.vendorId;
        connect.product_id = c.productId;
        connect.device_version_bcd = c.versionNumber;
        usbredirparser_send_device_connect(s.parser, &connect);
    }

    static void SetConfiguration(void* priv, std::uint64_t id, usb_redir_set_configuration_header* request) {
        usb_redir_configuration_status_header status{usb_redir_success, request->configuration};
        usbredirparser_send_configuration_status(Of(priv).parser, id, &status);
    }
    static void GetConfiguration(void* priv, std::uint64_t id) {
        usb_redir_configuration_status_header status{usb_redir_success, 1};
        usbredirparser_send_configuration_status(Of(priv).parser, id, &status);
    }
    static void SetAltSetting(void* priv, std::uint64_t id, usb_redir_set_alt_setting_header* request) {
        std::uint8_t result = request->alt == 0 ? usb_redir_success : usb_redir_inval;
        usb_redir_alt_setting_status_header status{result, request->interface, 0};
        usbredirparser_send_alt_setting_status(Of(priv).parser, id, &status);
    }
    static void GetAltSetting(void* priv, std::uint64_t id, usb_redir_get_alt_setting_header* request) {
        usb_redir_alt_setting_status_header status{usb_redir_success, request->interface, 0};
        usbredirparser_send_alt_setting_status(Of(priv).parser, id, &status);
    }
    // The device has no interrupt input reports to send: polling starts and stays quiet.
    static void StartInterrupt(void* priv, std::uint64_t id, usb_redir_start_interrupt_receiving_header* request) {
        usb_redir_interrupt_receiving_status_header status{usb_redir_success, request->endpoint};
        usbredirparser_send_interrupt_receiving_status(Of(priv).parser, id, &status);
    }
    static void StopInterrupt(void* priv, std::uint64_t id, usb_redir_stop_interrupt_receiving_header* request) {
        usb_redir_interrupt_receiving_status_header status{usb_redir_success, request->endpoint};
        usbredirparser_send_interrupt_receiving_status(Of(priv).parser, id, &status);
    }

    // Requests this device has no use for: the peer only sends them for endpoints or
    // features it does not have, and the parser must find a handler for each.
    static void Reset(void*) {}
    static void CancelPacket(void*, std::uint64_t) {}
    static void FilterReject(void*) {}
    static void FilterFilter(void*, usbredirfilter_rule*, int) {}
    static void DisconnectAck(void*) {}
    static void StartIso(void* priv, std::uint64_t id, usb_redir_start_iso_stream_header* request) {
        usb_redir_iso_stream_status_header status{usb_redir_inval, request->endpoint};
        usbredirparser_send_iso_stream_status(Of(priv).parser, id, &status);
    }
    static void StopIso(void* priv, std::uint64_t id, usb_redir_stop_iso_stream_header* request) {
        usb_redir_iso_stream_status_header status{usb_redir_inval, request->endpoint};
        usbredirparser_send_iso_stream_status(Of(priv).parser, id, &status);
    }
    static void AllocStreams(void* priv, std::uint64_t id, usb_redir_alloc_bulk_streams_header* request) {
        usb_redir_bulk_streams_status_header status{request->endpoints, 0, usb_redir_inval};
        usbredirparser_send_bulk_streams_status(Of(priv).parser, id, &status);
    }
    static void FreeStreams(void* priv, std::uint64_t id, usb_redir_free_bulk_streams_header* request) {
        usb_redir_bulk_streams_status_header status{request->endpoints, 0, usb_redir_inval};
        usbredirparser_send_bulk_streams_status(Of(priv).parser, id, &status);
    }
    static void StartBulk(void* priv, std::uint64_t id, usb_redir_start_bulk_receiving_header* request) {
        usb_redir_bulk_receiving_status_header status{request->stream_id, request->endpoint, usb_redir_inval};
        usbredirparser_send_bulk_receiving_status(Of(priv).parser, id, &status);
    }
    static void StopBulk(void* priv, std::uint64_t id, usb_redir_stop_bulk_receiving_header* request) {
        usb_redir_bulk_receiving_status_header status{request->stream_id, request->endpoint, usb_redir_inval};
        usbredirparser_send_bulk_receiving_status(Of(priv).parser, id, &status);
    }
    static void Bulk(void* priv, std::uint64_t id, usb_redir_bulk_packet_header* header, std::uint8_t* data, int) {
        Session& s = Of(priv);
        if (data) usbredirparser_free_packet_data(s.parser, data);
        usb_redir_bulk_packet_header answer = *header;
        answer.status = usb_redir_inval;
        answer.length = 0;
        answer.length_high = 0;
        usbredirparser_send_bulk_packet(s.parser, id, &answer, nullptr, 0);
    }
    static void Iso(void* priv, std::uint64_t id, usb_redir_iso_packet_header* header, std::uint8_t* data, int) {
        Session& s = Of(priv);
        if (data) usbredirparser_free_packet_data(s.parser, data);
        usb_redir_iso_packet_header answer = *header;
        answer.status = usb_redir_inval;
        answer.length = 0;
        usbredirparser_send_iso_packet(s.parser, id, &answer, nullptr, 0);
    }

    static void Control(void* priv, std::uint64_t id, usb_redir_control_packet_header* header, std::uint8_t* data,
                        int length) {
        Session& s = Of(priv);
        Setup setup{header->requesttype, header->request, header->value, header->index, header->length};
        std::span<const std::uint8_t> stage;
        if (data && length > 0) stage = {data, static_cast<std::size_t>(length)};
        Reply reply = s.unplugged ? Reply{Status::Unplugged, {}} : s.front.device_->Control(setup, stage);
        s.front.Note(UsbDevice::FormatSetup(setup, reply.status, (setup.requestType & 0x80) ? reply.data.size()
                                                                                              : stage.size()));
        if (data) usbredirparser_free_packet_data(s.parser, data);
        usb_redir_control_packet_header answer = *header;
        answer.status = RedirStatus(reply.status);
        if (header->requesttype & 0x80) {
            answer.length = static_cast<std::uint16_t>(reply.data.size());
            usbredirparser_send_control_packet(s.parser, id, &answer, reply.data.data(),
                                               static_cast<int>(reply.data.size()));
        } else {
            usbredirparser_send_control_packet(s.parser, id, &answer, nullptr, 0);
        }
        s.Disconnect(reply.status);
    }

    static void Interrupt(void* priv, std::uint64_t id, usb_redir_interrupt_packet_header* header, std::uint8_t* data,
                          int length) {
        Session& s = Of(priv);
        Status status = Status::Stall;
        if (header->endpoint == kInterruptOutEndpoint && !s.unplugged)
            status = s.front.device_->InterruptOut({data, static_cast<std::size_t>(std::max(length, 0))});
        if (data) usbredirparser_free_packet_data(s.parser, data);
        usb_redir_interrupt_packet_header answer = *header;
        answer.status = RedirStatus(status);
        usbredirparser_send_interrupt_packet(s.parser, id, &answer, nullptr, 0);
        s.Disconnect(status);
    }

    // The model's unplug: the request in flight fails as a transaction error, as a host
    // controller reports a device that has gone mid-transfer, then the peer loses the device.
    void Disconnect(Status status) {
        if (status != Status::Unplugged || unplugged) return;
        unplugged = true;
        front.Note("device disconnected");
        usbredirparser_send_device_disconnect(parser);
    }

    bool Init() {
        parser = usbredirparser_create();
        if (!parser) return false;
        parser->priv = this;
        parser->log_func = Log;
        parser->read_func = Read;
        parser->write_func = Write;
        parser->hello_func = Hello;
        parser->set_configuration_func = SetConfiguration;
        parser->get_configuration_func = GetConfiguration;
        parser->set_alt_setting_func = SetAltSetting;
        parser->get_alt_setting_func = GetAltSetting;
        parser->start_interrupt_receiving_func = StartInterrupt;
        parser->stop_interrupt_receiving_func = StopInterrupt;
        parser->control_packet_func = Control;
        parser->interrupt_packet_func = Interrupt;
        parser->reset_func = Reset;
        parser->cancel_data_packet_func = CancelPacket;
        parser->filter_reject_func = FilterReject;
        parser->filter_filter_func = FilterFilter;
        parser->device_disconnect_ack_func = DisconnectAck;
        parser->start_iso_stream_func = StartIso;
        parser->stop_iso_stream_func = StopIso;
        parser->alloc_bulk_streams_func = AllocStreams;
        parser->free_bulk_streams_func = FreeStreams;
        parser->start_bulk_receiving_func = StartBulk;
        parser->stop_bulk_receiving_func = StopBulk;
        parser->bulk_packet_func = Bulk;
        parser->iso_packet_func = Iso;
        // QEMU refuses a device on xHCI without the last three.
        std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
        usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
        usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
        usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
        usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
        usbredirparser_init(parser, "uvc_hid_sim", caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
        return true;
    }
};

std::unique_ptr<UsbRedirFront> UsbRedirFront::Start(std::shared_ptr<UsbDevice> device, std::string socketPath,
                                                    std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        error = "socket path too long or empty: " + socketPath;
        return nullptr;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int stop[2] = {-1, -1};
    auto fail = [&](const char* what) {
        error = std::string(what) + " " + socketPath + ": " + std::strerror(errno);
        CloseFd(listenFd);
        CloseFd(stop[0]);
        CloseFd(stop[1]);
        return nullptr;
    };
    if (listenFd < 0) return fail("cannot create a socket for");
    ::unlink(socketPath.c_str());
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) return fail("cannot bind");
    if (::listen(listenFd, 1) < 0) return fail("cannot listen on");
    if (::pipe2(stop, O_CLOEXEC) < 0) return fail("cannot make a stop pipe for");
    auto front = std::make_unique<UsbRedirFront>(std::move(device), std::move(socketPath), listenFd, stop);
    front->thread_ = std::thread([f = front.get()] { f->Serve(); });
    return front;
}

UsbRedirFront::UsbRedirFront(std::shared_ptr<UsbDevice> device, std::string socketPath, int listenFd, int stopFd[2])
    : device_(std::move(device)), socketPath_(std::move(socketPath)), listenFd_(listenFd), stopRead_(stopFd[0]),
      stopWrite_(stopFd[1]) {}

UsbRedirFront::~UsbRedirFront() { Stop(); }

void UsbRedirFront::Stop() {
    if (thread_.joinable()) {
        char byte = 0;
        while (::write(stopWrite_, &byte, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    if (listenFd_ >= 0) ::unlink(socketPath_.c_str());
    CloseFd(listenFd_);
    CloseFd(stopRead_);
    CloseFd(stopWrite_);
}

std::vector<std::string> UsbRedirFront::SetupLog() const {
    std::lock_guard guard(logLock_);
    return setupLog_;
}

void UsbRedirFront::Note(std::string line) {
    std::lock_guard guard(logLock_);
    setupLog_.push_back(std::move(line));
}

// Accepts one peer and serves it until it goes away or Stop() is called; then waits for
// the next one, so that a peer that restarts finds the device again.
void UsbRedirFront::Serve() {
    for (;;) {
        pollfd waits[2] = {{listenFd_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[1].revents) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        Session session(*this, fd);
        bool stopped = false;
        if (session.Init()) {
            while (!session.closed && !stopped) {
                short events = POLLIN;
                if (usbredirparser_has_data_to_write(session.parser)) events |= POLLOUT;
                pollfd io[2] = {{fd, events, 0}, {stopRead_, POLLIN, 0}};
                if (::poll(io, 2, -1) < 0 && errno != EINTR) break;
                if (io[1].revents) stopped = true;
                if (io[0].revents & (POLLIN | POLLHUP | POLLERR)) usbredirparser_do_read(session.parser);
                if (usbredirparser_has_data_to_write(session.parser) && usbredirparser_do_write(session.parser) < 0)
                    session.closed = true;
            }
        }
        ::close(fd);
        if (stopped) return;
    }
}

}  // namespace simusb
