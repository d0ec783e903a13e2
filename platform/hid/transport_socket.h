// Simulated devices in other processes, reached over Unix-domain sockets.
//
// A simulator program listens on a socket file in the per-user runtime directory
// ($XDG_RUNTIME_DIR/uvc-hid-sim/ when that is set and usable, else /tmp/uvc-hid-sim-<uid>/;
// created 0700; a directory that is not the user's own, or that others may enter, is
// refused). Enumeration lists every simulator that answers there as the interface
// "\\?\simhid#<socket file name>"; a socket whose connect is refused belongs to a dead
// simulator and is unlinked.
//
// Wire format, both directions: an 8-byte header (payload length, 32-bit little-endian;
// message type, one byte; request number, 24-bit little-endian) and the payload. The
// client numbers its requests (incrementing, wrapping at 2^24) and the simulator's Reply
// carries the number of the request it answers. Requests:
//   Info        (empty)                       -> vid, pid, version, descriptor, strings,
//                                                the USB port path it pretends (absent from
//                                                older simulators: none)
//   SetOutput   the report, byte 0 its ID     -> status
//   GetInput    report ID (1), length (LE 4)  -> status, the answer
//   SetFeature / GetFeature, as the two above; Write (report) / Read (max length LE 4)
//   Claim       op (1: 0 take, 1 release, 2 query) -> status, holder's pid (LE 4)
// Every request gets one Reply: a 32-bit little-endian Win32 status, then any data.
// A payload above kMaxPayload, an unknown type or a malformed body closes the connection
// on either end. The client waits kReplyTimeoutMs for a reply (kProbeTimeoutMs while
// enumerating); a simulator that does not answer in time has its connection closed and
// the call fails with ERROR_SEM_TIMEOUT, later calls with ERROR_DEVICE_NOT_CONNECTED.
// A reply that is not the awaited one (another number or type), or anything the simulator
// sends before it is asked, fails the call the same way: the connection is not trusted
// any more. Bytes that come right behind the awaited reply are such data too: the reply
// is taken, and the next call fails without sending. A connection the simulator closed
// between requests is opened again before the next request, unless it held the claim
// (which ended with it).
//
// Claims: while one connection holds the device, the simulator refuses every transfer of
// the others with ERROR_BUSY; Take by another connection answers ERROR_BUSY with the
// holder's pid (from the socket's peer credentials); closing the connection releases it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid/hid_transport.h"
#include "platform/hid/virtual_device.h"

namespace simsocket {

inline constexpr std::size_t kHeaderBytes = 8;
inline constexpr std::size_t kMaxPayload = 1u << 18;
inline constexpr int kReplyTimeoutMs = 10000;
inline constexpr int kProbeTimeoutMs = 2000;
// The client's waits, kReplyTimeoutMs and kProbeTimeoutMs unless a test shortened them.
int ReplyTimeoutMs();
int ProbeTimeoutMs();
void SetClientTimeouts(int replyMs, int probeMs);
inline constexpr std::u16string_view kPathPrefix = u"\\\\?\\simhid#";
inline constexpr std::string_view kSocketSuffix = ".sock";
inline constexpr std::size_t kMaxNameLength = 64;

enum class MessageType : std::uint8_t {
    Info = 1,
    SetOutput = 2,
    GetInput = 3,
    SetFeature = 4,
    GetFeature = 5,
    Write = 6,
    Read = 7,
    Claim = 8,
    Reply = 0x80,
};

inline constexpr std::uint32_t kRequestNumberMask = 0xFFFFFF;
inline constexpr std::size_t kClaimReplyBytes = 8;  // status, holder's pid

struct Message {
    MessageType type = MessageType::Reply;
    std::uint32_t number = 0;  // the request number, 24 bits
    std::vector<std::uint8_t> payload;
};

struct Header {
    std::uint32_t length = 0;
    MessageType type = MessageType::Reply;
    std::uint32_t number = 0;
};
// A header as sent, the number cut to 24 bits, into `out`.
void EncodeHeader(MessageType type, std::uint32_t number, std::uint32_t length, std::span<std::uint8_t, kHeaderBytes> out);
// A received header: false for a payload above kMaxPayload or an unknown type.
bool DecodeHeader(std::span<const std::uint8_t, kHeaderBytes> bytes, Header& header);
// A whole message (header and payload) as sent; the number is cut to 24 bits.
std::vector<std::uint8_t> EncodeMessage(MessageType type, std::uint32_t number, std::span<const std::uint8_t> payload);

enum class IoStatus { Ok, Closed, Timeout, Malformed, Woken };

// Sends one message without blocking on the socket itself, waiting at most timeoutMs for room.
IoStatus SendMessage(int fd, MessageType type, std::uint32_t number, std::span<const std::uint8_t> payload,
                     int timeoutMs);
// Receives one message. Waits up to firstByteTimeoutMs (-1: without limit) for it to
// begin and restTimeoutMs for the rest. A readable wakeFd (>= 0) ends the wait (Woken).
IoStatus ReceiveMessage(int fd, Message& message, int firstByteTimeoutMs, int restTimeoutMs, int wakeFd = -1);

// The device description of an Info reply (the path is not sent).
std::vector<std::uint8_t> EncodeInfo(const vhid::DeviceInfo& info);
bool DecodeInfo(std::span<const std::uint8_t> bytes, vhid::DeviceInfo& info);

// The runtime directory, created when `create` is set. ERROR_SUCCESS with its path;
// ERROR_PATH_NOT_FOUND when it does not exist and `create` is clear; ERROR_ACCESS_DENIED
// when it is not a directory of the user's own closed to others.
DWORD RuntimeDirectory(bool create, std::string& directory);
// A socket file name the transport accepts: 1..kMaxNameLength characters of [A-Za-z0-9._-],
// ending in ".sock", not starting with '.'.
bool IsValidSocketName(std::string_view name);

// A client connection over a socket already connected to a simulator whose Info is `info`
// (for tests and fuzzing). It owns fd and never opens a connection again.
std::unique_ptr<hidtransport::Connection> AdoptConnection(int fd, vhid::DeviceInfo info, std::u16string path);

}  // namespace simsocket

namespace hidlibrary {
std::shared_ptr<hidtransport::Provider> MakeSocketProvider();
}
