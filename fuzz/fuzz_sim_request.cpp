// libFuzzer target: request bytes from three clients to the simulator's request handling,
// as the socket server's connections feed it (FrameReader, then RequestServer::Serve),
// over a simulated device with a small flash.
//
// The input is records: a selector byte (low two bits the client; 3 ends the connection
// of client (selector >> 2) % 3), a length byte, and that many bytes of the client's
// stream. Checked: every reply carries a status; Info answers the device's description; a
// claim reply carries the holder's pid; while one client holds the claim no transfer of
// another reaches the device, and the claim follows take, release and disconnect.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/simulated_device.h"
#include "sim/socket_server.h"

namespace {

using simsocket::MessageType;

constexpr std::uint64_t kClients = 3;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

bool IsTransfer(MessageType type) {
    return type != MessageType::Info && type != MessageType::Claim && type != MessageType::Reply;
}

struct Session {
    std::shared_ptr<sim::SimulatedDevice> device;
    std::optional<sim::RequestServer> server;
    std::vector<std::uint8_t> info;
    sim::FrameReader readers[kClients];
    std::optional<std::uint64_t> holder;  // who should hold the claim

    void Disconnect(std::uint64_t client) {
        readers[client] = sim::FrameReader();
        server->Disconnected(client);
        if (holder == client) holder.reset();
        if (server->Holder() != holder) Fail("a disconnect left the claim wrong");
    }

    void Serve(std::uint64_t client, const simsocket::Message& request) {
        const std::uint32_t pid = 1000 + static_cast<std::uint32_t>(client);
        const std::uint64_t transfersBefore = device->TransferCount();
        std::vector<std::uint8_t> reply;
        if (!server->Serve(client, pid, request, reply)) {
            Disconnect(client);
            return;
        }
        if (reply.size() < 4 || reply.size() > simsocket::kMaxPayload) Fail("reply without a status, or oversized");
        const std::uint32_t status = Le32(reply, 0);
        const bool other = holder && *holder != client;
        if (request.type == MessageType::Info) {
            if (status != ERROR_SUCCESS || !std::equal(reply.begin() + 4, reply.end(), info.begin(), info.end()))
                Fail("Info is not the device's description");
        } else if (request.type == MessageType::Claim) {
            if (reply.size() != simsocket::kClaimReplyBytes) Fail("claim reply of the wrong size");
            const std::uint32_t holderPid = Le32(reply, 4);
            const std::uint8_t op = request.payload.at(0);
            if (op == 0 && other && (status != ERROR_BUSY || holderPid != 1000 + *holder))
                Fail("take of a held device not refused with its holder");
            if (op == 0 && !other) holder = client;
            if (op == 1 && holder == client) holder.reset();
            if (op == 2 && holderPid != (other ? 1000 + *holder : 0)) Fail("query names the wrong holder");
        } else if (IsTransfer(request.type) && other) {
            if (status != ERROR_BUSY || device->TransferCount() != transfersBefore)
                Fail("a transfer passed another client's claim");
        }
        if (server->Holder() != holder) Fail("the claim is not where it should be");
    }

    void Feed(std::uint64_t client, std::span<const std::uint8_t> bytes) {
        sim::FrameReader& reader = readers[client];
        while (!bytes.empty()) {
            std::span<std::uint8_t> space = reader.Space();
            if (space.empty()) Fail("an incomplete message offers no space");
            const std::size_t count = std::min(space.size(), bytes.size());
            std::memcpy(space.data(), bytes.data(), count);
            bytes = bytes.subspan(count);
            if (!reader.Commit(count)) {
                Disconnect(client);
                return;
            }
            if (reader.Complete()) Serve(client, reader.Take());
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::Config config;
    config.partRow = 34;  // a 256 KiB flash: cheap to build for every input
    config.logLimit = 16;
    std::string error;
    Session session;
    session.device = sim::SimulatedDevice::Create(config, error);
    if (!session.device) Fail(error.c_str());
    session.server.emplace(session.device, session.device->Info());
    session.info = simsocket::EncodeInfo(session.device->Info());
    std::span<const std::uint8_t> input(data, size);
    while (input.size() >= 2) {
        const std::uint8_t selector = input[0];
        const std::size_t length = std::min<std::size_t>(input[1], input.size() - 2);
        const std::span<const std::uint8_t> piece = input.subspan(2, length);
        input = input.subspan(2 + length);
        if ((selector & 3) == 3)
            session.Disconnect((selector >> 2) % kClients);
        else
            session.Feed(selector & 3, piece);
    }
    return 0;
}
