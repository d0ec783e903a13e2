// libFuzzer target: what a simulator, or anything posing as one, sends the socket client.
//
// First byte even: the rest is a raw byte stream from the peer through a socket pair into
// ReceiveMessage until it ends; every message read must encode back to the very bytes it
// came from, and every body DecodeInfo accepts must encode back to itself.
//
// First byte odd: the rest scripts a peer answering a client connection's calls, one
// answer per call (the call's kind, then the answer's frame: type, number, status, body,
// sent once or twice, or cut short and the connection closed). Checked against what the
// peer sent: a call answers the device's status and data only when its own answer was a
// Reply with its number, nothing unasked was waiting, and the body fits the call; any
// other answer drops the connection for good.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <span>
#include <thread>
#include <vector>

#include "platform/hid/transport_socket.h"

namespace {

using hidtransport::ClaimOp;
using simsocket::IoStatus;
using simsocket::MessageType;
using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void Fail(const char* what, std::size_t call) {
    std::fprintf(stderr, "call %zu: %s\n", call, what);
    std::abort();
}

bool SameInfo(const vhid::DeviceInfo& a, const vhid::DeviceInfo& b) {
    return a.vendorId == b.vendorId && a.productId == b.productId && a.versionNumber == b.versionNumber &&
           a.reportDescriptor == b.reportDescriptor && a.manufacturer == b.manufacturer && a.product == b.product &&
           a.serialNumber == b.serialNumber && a.indexedStrings == b.indexedStrings && a.portPath == b.portPath;
}

void CheckInfo(std::span<const std::uint8_t> body) {
    vhid::DeviceInfo info;
    if (!simsocket::DecodeInfo(body, info)) return;
    // A body may leave out trailing fields an older simulator did not send; what it decodes
    // to encodes to the full form, which decodes to the same and encodes to itself.
    const Bytes again = simsocket::EncodeInfo(info);
    vhid::DeviceInfo twice;
    if (!simsocket::DecodeInfo(again, twice) || !SameInfo(info, twice)) Fail("Info does not decode back", 0);
    const Bytes thrice = simsocket::EncodeInfo(twice);
    if (thrice != again) Fail("Info's encoding is not stable", 0);
}

void RawStream(std::span<const std::uint8_t> bytes) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return;
    // The input is far below a socket buffer, so it is all there before the reader starts.
    if (!bytes.empty() && send(pair[1], bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        Fail("socket pair refused the input", 0);
    close(pair[1]);
    std::size_t at = 0;
    simsocket::Message message;
    while (simsocket::ReceiveMessage(pair[0], message, 0, 0) == IoStatus::Ok) {
        const Bytes frame = simsocket::EncodeMessage(message.type, message.number, message.payload);
        if (frame.size() > bytes.size() - at || !std::equal(frame.begin(), frame.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at)))
            Fail("message does not encode back to its bytes", 0);
        at += frame.size();
        CheckInfo(message.payload);
        if (message.payload.size() >= 4) CheckInfo(std::span(message.payload).subspan(4));
    }
    close(pair[0]);
}

constexpr DWORD kStatuses[] = {ERROR_SUCCESS, ERROR_GEN_FAILURE, ERROR_BUSY, ERROR_SEM_TIMEOUT};

enum class Kind : std::uint8_t { GetInput, SetOutput, GetFeature, SetFeature, Write, Read, Claim };

struct Answer {
    Kind kind = Kind::GetInput;
    ClaimOp op = ClaimOp::Take;
    bool twice = false;       // sent twice: the second is unasked
    bool cut = false;         // half of it sent, then the connection closed
    bool withStatus = true;   // false: a body too short to hold a status (data cut to 3 bytes)
    std::uint8_t type = 0x80;
    std::int64_t numberShift = 0;
    DWORD status = ERROR_SUCCESS;
    Bytes data;

    bool Valid() const {
        const bool numbered = numberShift == 0 || numberShift == std::int64_t{1} << 24;
        return !cut && withStatus && type == static_cast<std::uint8_t>(MessageType::Reply) && numbered &&
               (kind != Kind::Claim || data.size() == 4);
    }
};

std::vector<Answer> ParseScript(std::span<const std::uint8_t> bytes) {
    std::vector<Answer> answers;
    std::size_t at = 0;
    while (bytes.size() - at >= 4) {
        Answer answer;
        const std::uint8_t call = bytes[at], flags = bytes[at + 1];
        answer.kind = static_cast<Kind>(call % 7);
        answer.op = static_cast<ClaimOp>((call >> 3) % 3);
        answer.twice = flags & 1;
        answer.cut = flags & 0x20;
        answer.withStatus = !(flags & 0x40);
        static constexpr std::uint8_t kTypes[] = {0x80, 0x01, 0x03, 0x42};
        answer.type = kTypes[(flags >> 1) & 3];
        static constexpr std::int64_t kShifts[] = {0, 1, -1, std::int64_t{1} << 24};
        answer.numberShift = kShifts[(flags >> 3) & 3];
        answer.status = kStatuses[bytes[at + 2] % 4];
        const std::size_t length = std::min<std::size_t>(bytes[at + 3], bytes.size() - at - 4);
        answer.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 4),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + 4 + length));
        at += 4 + length;
        answers.push_back(std::move(answer));
    }
    return answers;
}

// The peer: answers each request it receives with the next scripted answer; closes its
// end when the script ends, a cut answer was sent, or the client went away.
void Peer(int fd, const std::vector<Answer>& answers) {
    for (const Answer& answer : answers) {
        simsocket::Message request;
        if (simsocket::ReceiveMessage(fd, request, 5000, 5000) != IoStatus::Ok) break;
        Bytes payload;
        if (answer.withStatus) {
            for (int i = 0; i < 4; ++i) payload.push_back(static_cast<std::uint8_t>(answer.status >> (8 * i)));
            payload.insert(payload.end(), answer.data.begin(), answer.data.end());
        } else {
            payload.assign(answer.data.begin(), answer.data.begin() + std::min<std::ptrdiff_t>(3, std::ssize(answer.data)));
        }
        const auto number = static_cast<std::uint32_t>(std::int64_t{request.number} + answer.numberShift);
        Bytes frame = simsocket::EncodeMessage(MessageType::Reply, number, payload);
        frame[4] = answer.type;
        if (answer.cut) frame.resize(frame.size() / 2);
        if (answer.twice && !answer.cut) frame.insert(frame.end(), frame.begin(), frame.end());
        if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) break;
        if (answer.cut) break;
    }
    close(fd);
}

DWORD CallOf(hidtransport::Connection& connection, const Answer& answer, Bytes& data, std::uint32_t& pid) {
    static const Bytes report{2, 6, 1, 0x58};
    switch (answer.kind) {
    case Kind::GetInput: return connection.GetInputReport(2, 0x240, data);
    case Kind::SetOutput: return connection.SetOutputReport(report);
    case Kind::GetFeature: return connection.GetFeature(2, 64, data);
    case Kind::SetFeature: return connection.SetFeature(report);
    case Kind::Write: return connection.WriteReport(report);
    case Kind::Read: return connection.ReadReport(data, 64);
    case Kind::Claim: return connection.Claim(answer.op, pid);
    }
    return ERROR_INVALID_PARAMETER;
}

void ScriptedPeer(std::span<const std::uint8_t> bytes) {
    const std::vector<Answer> answers = ParseScript(bytes);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return;
    vhid::DeviceInfo info;
    info.reportDescriptor = {0x06, 0x00, 0xFF};
    auto connection = simsocket::AdoptConnection(pair[0], info, u"\\\\?\\simhid#fuzz.sock");
    std::thread peer(Peer, pair[1], std::cref(answers));
    bool alive = true, unasked = false;
    for (std::size_t i = 0; i <= answers.size(); ++i) {
        // One call beyond the script: the peer has closed by then (or closes on it).
        const Answer& answer = i < answers.size() ? answers[i] : Answer{};
        const bool lastCall = i == answers.size();
        const bool releases = answer.kind == Kind::Claim && answer.op == ClaimOp::Release;
        Bytes data{0x5A};
        std::uint32_t pid = 0xFFFFFFFF;
        const DWORD result = CallOf(*connection, answer, data, pid);
        if (!alive) {
            if (result != (releases ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED)) Fail("dropped connection answered", i);
            continue;
        }
        if (unasked || lastCall || !answer.Valid()) {
            if (result != ERROR_DEVICE_NOT_CONNECTED) Fail("a wrong or unasked answer was taken", i);
            if (data != Bytes{0x5A}) Fail("a refused answer left data", i);
            alive = false;
            continue;
        }
        if (result != answer.status) Fail("the status is not the one answered", i);
        const bool input = answer.kind == Kind::GetInput || answer.kind == Kind::GetFeature || answer.kind == Kind::Read;
        if (input && data != answer.data) Fail("the data are not the ones answered", i);
        if (answer.kind == Kind::Claim &&
            pid != (std::uint32_t{answer.data[0]} | std::uint32_t{answer.data[1]} << 8 |
                    std::uint32_t{answer.data[2]} << 16 | std::uint32_t{answer.data[3]} << 24))
            Fail("the holder's pid is not the one answered", i);
        unasked = answer.twice;
    }
    connection.reset();  // the peer, if still waiting, sees the end
    peer.join();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const bool shortened = [] {
        simsocket::SetClientTimeouts(2000, 2000);  // no wait is expected; a hang still ends
        return true;
    }();
    (void)shortened;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    if (data[0] % 2 == 0)
        RawStream(rest);
    else
        ScriptedPeer(rest);
    return 0;
}
