// hid_caps' parts: what it reads a descriptor from (and what it refuses to wait on), the
// split into top-level collections, and the JSON it prints for them.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid/preparsed.h"
#include "tools/hid_caps_collections.h"
#include "tools/hid_caps_input.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "hid-caps-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name, const std::string& content) const {
        const std::string path = path_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

struct Loaded { bool ok; Bytes bytes; std::string error; };

Loaded Load(const std::string& path, int timeoutMs = 200) {
    Loaded loaded{};
    loaded.ok = hidcaps::LoadDescriptor(path, loaded.bytes, loaded.error, timeoutMs);
    return loaded;
}

// ---- where a descriptor comes from

// Every kind of path ends at once with the descriptor or with a message naming the path
// and the system's answer: no exception, no wait on a pipe without a writer, no device
// opened that is not a hidraw node.
TEST(HidCapsInput, EveryKindOfPathEndsWithADescriptorOrAMessage) {
    TempDir dir;
    const std::string raw = dir.File("mouse.bin", std::string("\x05\x01\x09\x02\xA1\x01\xC0", 7));
    const std::string hex = dir.File("mouse.hex", "# a mouse\n05 01, 0x09 02\na101c0\n");
    const std::string big = dir.File("big.hex", std::string((1u << 20) + 1, '0'));
    const std::string fifo = dir.Path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    struct Row { std::string path; bool ok; std::string said; /* part of the message */ };
    const Row rows[] = {
        {raw, true, ""},
        {hex, true, ""},
        {dir.Path(), false, "cannot read " + dir.Path() + ": Is a directory"},
        {dir.Path() + "/absent", false, "cannot open " + dir.Path() + "/absent: No such file or directory"},
        {big, false, big + " is too large to be a report descriptor"},
        {"/dev/null", false, "/dev/null is a device but not a hidraw node"},
        {fifo, false, "cannot read " + fifo + ": nothing arrived within 200 ms"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const auto start = std::chrono::steady_clock::now();
        const Loaded loaded = Load(row.path);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(loaded.ok, row.ok) << loaded.error;
        if (row.ok) {
            EXPECT_EQ(loaded.bytes, (Bytes{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0}));
        }
        EXPECT_NE(loaded.error.find(row.said), std::string::npos) << loaded.error;
    }
}

// A pipe with a writer is read to its end, as `hid_caps <(xxd -p descriptor.bin)` needs.
TEST(HidCapsInput, APipeIsReadToItsEnd) {
    TempDir dir;
    const std::string fifo = dir.Path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the reader
        ASSERT_GE(fd, 0);
        for (const char* piece : {"05 01 09 02 ", "a1 01 c0\n"}) {
            ASSERT_GT(::write(fd, piece, std::char_traits<char>::length(piece)), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::close(fd);
    });
    const Loaded loaded = Load(fifo, 5000);
    writer.join();
    EXPECT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(loaded.bytes, (Bytes{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0}));
}

// ---- top-level collections

std::unique_ptr<hidparse::PreparsedData> Parse(const Bytes& descriptor) {
    std::unique_ptr<hidparse::PreparsedData> data;
    EXPECT_EQ(hidparse::ParseReportDescriptor(descriptor, data), HIDP_STATUS_SUCCESS);
    return data;
}

// A collection sees the global items in force before it, Push and Pop included, and none
// of the items of the collections before it.
TEST(HidCapsCollections, EachCollectionStartsFromTheGlobalStateInForce) {
    const Bytes descriptor = {
        0x05, 0x01, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x85, 0x01,  // page 1, 0..1, 8 x 1 bit, ID 1
        0x09, 0x06, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x81, 0x02, 0xC0,  // 8 buttons (page 9 stays)
        0xA4, 0x85, 0x02, 0x75, 0x08, 0x75, 0x10, 0x95, 0x03, 0x26, 0xFF, 0x00,       // Push; ID 2, 3 x 16 bits
        0x09, 0x30, 0xA1, 0x01, 0x09, 0x30, 0x81, 0x02, 0xC0,                          // a value of ID 2
        0xB4,                                                                          // Pop: ID 1, 8 x 1 bit
        0x09, 0x31, 0xA1, 0x01, 0x09, 0x31, 0x81, 0x02, 0xC0,                          // buttons of ID 1 again
    };
    const auto pieces = hidcaps::SplitTopLevelCollections(descriptor);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), descriptor.size());  // the first carries everything after it
    // Usage, input length, button and value caps, report ID; usage page 9 was set inside the first.
    using Seen = std::tuple<USAGE, USHORT, USHORT, USHORT, UCHAR, USAGE>;
    std::vector<Seen> seen;
    for (const Bytes& piece : pieces) {
        const auto data = Parse(piece);
        ASSERT_TRUE(data && data->records[HidP_Input].size() == 1u);
        const HIDP_CAPS& c = data->caps;
        const hidparse::Record& r = data->records[HidP_Input][0];
        seen.emplace_back(c.Usage, c.InputReportByteLength, c.NumberInputButtonCaps, c.NumberInputValueCaps, r.reportId, r.usagePage);
    }
    EXPECT_EQ(seen, (std::vector<Seen>{{6, 2, 1, 0, 1, 9}, {0x30, 7, 0, 1, 2, 9}, {0x31, 2, 1, 0, 1, 9}}));
    EXPECT_EQ(pieces[1].back(), 0xC0);  // a later one ends with its own End Collection
}

// `count` collections, each after a global item of its own, so that the global items
// before a collection grow with its position.
Bytes ManyCollections(std::size_t count) {
    Bytes d = {0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08};
    for (std::size_t i = 0; i < count; ++i)
        d.insert(d.end(), {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x81, 0x02, 0xC0});
    return d;
}

// Thousands of collections: the pieces together stay within a small multiple of the
// descriptor, and every collection prints the same object, so the output grows by the
// same amount for every thousand more.
TEST(HidCapsCollections, ThousandsOfCollectionsSplitAndPrintLinearly) {
    std::size_t printed[3] = {};
    const std::size_t counts[3] = {1000, 2000, 4000};
    for (std::size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(counts[k]);
        const Bytes descriptor = ManyCollections(counts[k]);
        ASSERT_LE(descriptor.size(), hidparse::kMaxDescriptorBytes);
        const auto pieces = hidcaps::SplitTopLevelCollections(descriptor);
        ASSERT_EQ(pieces.size(), counts[k]);
        std::size_t total = 0;
        for (const Bytes& piece : pieces) total += piece.size();
        EXPECT_LE(total, 3 * descriptor.size());
        std::ostringstream printedOut, err;
        EXPECT_EQ(hidcaps::PrintTopLevelCollections("many", descriptor, printedOut, err), 0);
        EXPECT_EQ(err.str(), "");
        const std::string out = printedOut.str();
        std::size_t objects = 0;
        for (std::size_t at = out.find("\"Caps\""); at != std::string::npos; at = out.find("\"Caps\"", at + 1)) ++objects;
        EXPECT_EQ(objects, counts[k]);
        printed[k] = out.size();
    }
    EXPECT_EQ(printed[2] - printed[1], 2 * (printed[1] - printed[0]));
}

// A refusal names the collection and prints nothing. What only building a collection
// finds (here a report too long) refuses that collection; a broken item after the last
// collection refuses the first, which carries the rest of the descriptor.
TEST(HidCapsCollections, RefusalsNameTheCollection) {
    Bytes descriptor = ManyCollections(2);
    descriptor.insert(descriptor.end(), {0x75, 0xFF, 0x96, 0xFF, 0xFF, 0x09, 0x30, 0xA1, 0x01, 0x09, 0x30, 0x81, 0x02, 0xC0});
    std::ostringstream out, err;
    EXPECT_EQ(hidcaps::PrintTopLevelCollections("x.bin", descriptor, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("x.bin: descriptor refused (" + std::to_string(descriptor.size()) +
                             " bytes, top-level collection 3, status 0xC0110001)"),
              std::string::npos)
        << err.str();

    descriptor = ManyCollections(3);
    descriptor.push_back(0xB4);  // Pop with nothing pushed, after the last collection
    err.str("");
    EXPECT_EQ(hidcaps::PrintTopLevelCollections("x.bin", descriptor, out, err), 1);
    EXPECT_NE(err.str().find("top-level collection 1,"), std::string::npos) << err.str();
}

}  // namespace
