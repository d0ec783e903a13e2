// Every tests/data/descriptors/<name>.bin parses to what <name>.expected lists (format in
// the README there); every fuzz seed keeps the invariants, ok_* accepted and bad_* refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "parser_test_support.h"
#include "platform/hid/hidp_fields.h"
#include "platform/hid/preparsed_invariants.h"

namespace {

using FieldMap = std::map<std::string, long long>;
// Records by kind, each kind in file order: "caps", "node", "Input button", "Feature value",
// "lists Output", ...
using Table = std::map<std::string, std::vector<FieldMap>>;

// The words without '=' make a line's kind, the others its fields; a field whose value is
// not a number fails the test.
Table ReadExpected(const std::filesystem::path& path) {
    Table table;
    std::ifstream in(path);
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        std::istringstream words(raw.substr(0, raw.find('#')));
        std::string kind, word;
        FieldMap fields;
        while (words >> word) {
            const std::size_t eq = word.find('=');
            if (eq == std::string::npos) {
                kind += (kind.empty() ? "" : " ") + word;
                continue;
            }
            const std::string text = word.substr(eq + 1);
            char* end = nullptr;
            fields[word.substr(0, eq)] = std::strtoll(text.c_str(), &end, 0);
            if (text.empty() || *end != '\0') ADD_FAILURE() << path << ":" << number << ": bad field " << word;
        }
        if (!kind.empty()) table[kind].push_back(fields);
    }
    return table;
}

void Add(Table& table, const std::string& kind, const hidparse::Fields& fields) {
    FieldMap map;
    for (const hidparse::Field& f : fields) map[f.name] = f.value;
    table[kind].push_back(map);
}

// What the capability functions answer, in the same shape. Button and value caps also
// carry StartBit and ArrayPosition of their record; list lengths are given for the types
// the expected file asks about.
Table Answered(const hidparse::PreparsedData& data, const Table& expected) {
    Table table;
    PHIDP_PREPARSED_DATA handle = hidparse::ToHandle(const_cast<hidparse::PreparsedData*>(&data));
    HIDP_CAPS caps{};
    EXPECT_EQ(HidP_GetCaps(handle, &caps), HIDP_STATUS_SUCCESS);
    Add(table, "caps", hidparse::CapsFields(caps));
    std::vector<HIDP_LINK_COLLECTION_NODE> nodes(caps.NumberLinkCollectionNodes);
    ULONG nodeCount = static_cast<ULONG>(nodes.size());
    EXPECT_EQ(HidP_GetLinkCollectionNodes(nodes.data(), &nodeCount, handle), HIDP_STATUS_SUCCESS);
    for (const auto& node : nodes) Add(table, "node", hidparse::LinkNodeFields(node));
    for (HIDP_REPORT_TYPE type : {HidP_Input, HidP_Output, HidP_Feature}) {
        const std::string name = hidparse::ReportTypeName(type);
        for (bool buttons : {true, false}) {
            std::vector<const hidparse::Record*> records;
            for (const hidparse::Record& r : data.records[type])
                if (r.isButton == buttons) records.push_back(&r);
            auto count = static_cast<USHORT>(records.size());
            std::vector<HIDP_BUTTON_CAPS> buttonCaps(count);
            std::vector<HIDP_VALUE_CAPS> valueCaps(count);
            if (buttons) HidP_GetButtonCaps(type, buttonCaps.data(), &count, handle);
            if (!buttons) HidP_GetValueCaps(type, valueCaps.data(), &count, handle);
            const std::string kind = name + (buttons ? " button" : " value");
            for (std::size_t i = 0; i < records.size(); ++i) {
                Add(table, kind,
                    buttons ? hidparse::ButtonCapsFields(buttonCaps[i]) : hidparse::ValueCapsFields(valueCaps[i]));
                table[kind].back()["StartBit"] = records[i]->startBit;
                table[kind].back()["ArrayPosition"] = records[i]->arrayPosition;
            }
        }
        if (expected.count("lists " + name))
            table["lists " + name].push_back({{"MaxUsageListLength", HidP_MaxUsageListLength(type, 0, handle)},
                                              {"MaxDataListLength", HidP_MaxDataListLength(type, handle)}});
    }
    return table;
}

// One line per record with the members that are not 0, so that a member the expected
// line leaves out must be 0 and one the record does not have shows as a difference.
std::vector<std::string> Lines(const Table& table) {
    std::vector<std::string> lines;
    for (const auto& [kind, records] : table)
        for (const FieldMap& fields : records) {
            std::string line = kind;
            for (const auto& [name, value] : fields)
                if (value != 0) line += " " + name + "=" + std::to_string(value);
            lines.push_back(line);
        }
    return lines;
}

class GoldenDescriptor : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenDescriptor, MatchesExpected) {
    const auto dir = parsertest::DescriptorDir();
    NTSTATUS status = 0;
    const auto data = parsertest::Parse(parsertest::ReadBytes(dir / (GetParam() + ".bin")), &status);
    ASSERT_EQ(status, HIDP_STATUS_SUCCESS);
    ASSERT_NE(data, nullptr);
    const Table expected = ReadExpected(dir / (GetParam() + ".expected"));
    ASSERT_EQ(expected.count("caps"), 1u);
    EXPECT_THAT(Lines(Answered(*data, expected)), ::testing::ElementsAreArray(Lines(expected)));
    EXPECT_EQ(hidparse::invariants::CheckPreparsed(*data), "");
}

std::vector<std::string> GoldenNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(parsertest::DescriptorDir()))
        if (entry.path().extension() == ".expected") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Descriptors, GoldenDescriptor, ::testing::ValuesIn(GoldenNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) { return param.param; });

TEST(FuzzCorpus, EverySeedIsRefusedOrKeepsTheInvariants) {
    const std::filesystem::path dir = std::filesystem::path(UVC_SOURCE_DIR) / "fuzz" / "corpus" / "descriptor_parser";
    std::size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ++seeds;
        NTSTATUS status = 0;
        const auto data = parsertest::Parse(parsertest::ReadBytes(entry.path()), &status);
        if (name.rfind("bad_", 0) == 0) { EXPECT_EQ(status, HIDP_STATUS_INVALID_PREPARSED_DATA); }
        if (name.rfind("ok_", 0) == 0) { EXPECT_EQ(status, HIDP_STATUS_SUCCESS); }
        EXPECT_EQ(data == nullptr, status != HIDP_STATUS_SUCCESS);
        if (data != nullptr) { EXPECT_EQ(hidparse::invariants::CheckPreparsed(*data), ""); }
    }
    EXPECT_GE(seeds, 10u);
}

// The checks must fail on preparsed data that breaks them; each row damages one thing.
TEST(InvariantChecks, CatchDamagedPreparsedData) {
    using Damage = void (*)(hidparse::PreparsedData&);
    const Damage damages[] = {
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][1].startBit = 8; },     // overlaps the buttons
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][1].startBit = 40; },    // past the 5-byte report
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][1].dataIndexMin = 4; },  // index used twice
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][0].usageMax = 4; },      // range != indices
        [](hidparse::PreparsedData& d) { d.linkNodes[0].NumberOfChildren = 2; },
        [](hidparse::PreparsedData& d) { d.linkNodes[1].Parent = 1; },
        [](hidparse::PreparsedData& d) { d.caps.NumberInputValueCaps = 2; },
        [](hidparse::PreparsedData& d) { d.caps.NumberInputDataIndices = 7; },
        [](hidparse::PreparsedData& d) { d.caps.InputReportByteLength = 0; },
        [](hidparse::PreparsedData& d) { d.reportIds[HidP_Input].clear(); },
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][2].linkUsage = 7; },
    };
    const auto bytes = parsertest::ReadBytes(parsertest::DescriptorDir() / "mouse_wheel.bin");
    for (std::size_t i = 0; i < std::size(damages); ++i) {
        SCOPED_TRACE(i);
        auto data = parsertest::Parse(bytes);
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(hidparse::invariants::CheckPreparsed(*data), "");
        damages[i](*data);
        EXPECT_NE(hidparse::invariants::CheckPreparsed(*data), "");
    }
}

}  // namespace
