// Golden descriptors: every tests/data/descriptors/<name>.bin is parsed and everything the
// capability functions answer is compared with <name>.expected (format in the README there).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "parser_test_support.h"
#include "platform/hid/hidp_fields.h"
#include "platform/hid/preparsed_invariants.h"

namespace {

using FieldMap = std::map<std::string, long long>;

struct ExpectedLine {
    int lineNumber = 0;
    std::string kind;  // caps, node, button, value, lists
    std::string type;  // Input/Output/Feature for button, value, lists
    FieldMap fields;
};

bool ParseNumber(const std::string& text, long long& value) {
    std::size_t used = 0;
    try {
        value = std::stoll(text, &used, 0);
    } catch (const std::exception&) {
        return false;
    }
    return used == text.size();
}

// Returns false and says why for a line it cannot read.
bool ParseLine(const std::string& raw, int number, ExpectedLine& line, std::string& error) {
    std::istringstream in(raw.substr(0, raw.find('#')));
    std::vector<std::string> words{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
    if (words.empty()) return false;
    line = ExpectedLine{number};
    std::size_t first = 1;
    if (words[0] == "caps" || words[0] == "node") {
        line.kind = words[0];
    } else if (words[0] == "lists" && words.size() > 1) {
        line = {number, "lists", words[1], {}};
        first = 2;
    } else if (words.size() > 1 && (words[1] == "button" || words[1] == "value")) {
        line = {number, words[1], words[0], {}};
        first = 2;
    } else {
        error = "line " + std::to_string(number) + ": unknown line";
        return false;
    }
    for (std::size_t i = first; i < words.size(); ++i) {
        const std::size_t eq = words[i].find('=');
        long long value = 0;
        if (eq == std::string::npos || !ParseNumber(words[i].substr(eq + 1), value)) {
            error = "line " + std::to_string(number) + ": bad field " + words[i];
            return false;
        }
        line.fields[words[i].substr(0, eq)] = value;
    }
    return true;
}

std::vector<ExpectedLine> ReadExpected(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<ExpectedLine> lines;
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        ExpectedLine line;
        std::string error;
        if (ParseLine(raw, number, line, error)) lines.push_back(line);
        if (!error.empty()) ADD_FAILURE() << path << ": " << error;
    }
    return lines;
}

FieldMap ToMap(const hidparse::Fields& fields) {
    FieldMap map;
    for (const hidparse::Field& f : fields) map[f.name] = f.value;
    return map;
}

// Every member must equal the expected value, 0 when the line leaves it out; a name on
// the line that the record does not have is a mistake in the expected file.
void ExpectFields(const FieldMap& actual, const ExpectedLine& line) {
    for (const auto& [name, value] : line.fields)
        EXPECT_TRUE(actual.count(name)) << "line " << line.lineNumber << ": no member " << name;
    for (const auto& [name, value] : actual) {
        const auto it = line.fields.find(name);
        const long long expected = it == line.fields.end() ? 0 : it->second;
        EXPECT_EQ(value, expected) << "line " << line.lineNumber << ": " << name;
    }
}

HIDP_REPORT_TYPE TypeOf(const std::string& name) {
    if (name == "Output") return HidP_Output;
    if (name == "Feature") return HidP_Feature;
    EXPECT_EQ(name, "Input");
    return HidP_Input;
}

class GoldenDescriptor : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        const auto dir = parsertest::DescriptorDir();
        NTSTATUS status = 0;
        data_ = parsertest::Parse(parsertest::ReadBytes(dir / (GetParam() + ".bin")), &status);
        ASSERT_EQ(status, HIDP_STATUS_SUCCESS);
        ASSERT_NE(data_, nullptr);
        expected_ = ReadExpected(dir / (GetParam() + ".expected"));
        ASSERT_FALSE(expected_.empty());
    }

    std::vector<const ExpectedLine*> Lines(const std::string& kind, const std::string& type = {}) const {
        std::vector<const ExpectedLine*> out;
        for (const ExpectedLine& l : expected_)
            if (l.kind == kind && l.type == type) out.push_back(&l);
        return out;
    }

    // The caps of one kind and type, each with StartBit and ArrayPosition of its record.
    std::vector<FieldMap> ActualCaps(HIDP_REPORT_TYPE type, bool buttons) {
        std::vector<const hidparse::Record*> records;
        for (const hidparse::Record& r : data_->records[static_cast<std::size_t>(type)])
            if (r.isButton == buttons) records.push_back(&r);
        std::vector<FieldMap> maps;
        USHORT count = static_cast<USHORT>(records.size());
        if (buttons) {
            std::vector<HIDP_BUTTON_CAPS> caps(count);
            HidP_GetButtonCaps(type, caps.data(), &count, parsertest::Handle(data_));
            for (const auto& c : caps) maps.push_back(ToMap(hidparse::ButtonCapsFields(c)));
        } else {
            std::vector<HIDP_VALUE_CAPS> caps(count);
            HidP_GetValueCaps(type, caps.data(), &count, parsertest::Handle(data_));
            for (const auto& c : caps) maps.push_back(ToMap(hidparse::ValueCapsFields(c)));
        }
        for (std::size_t i = 0; i < maps.size(); ++i) {
            maps[i]["StartBit"] = records[i]->startBit;
            maps[i]["ArrayPosition"] = records[i]->arrayPosition;
        }
        return maps;
    }

    void ExpectCaps() {
        SCOPED_TRACE("caps");
        const auto lines = Lines("caps");
        ASSERT_EQ(lines.size(), 1u);
        HIDP_CAPS caps{};
        ASSERT_EQ(HidP_GetCaps(parsertest::Handle(data_), &caps), HIDP_STATUS_SUCCESS);
        ExpectFields(ToMap(hidparse::CapsFields(caps)), *lines[0]);
    }

    void ExpectLinkNodes() {
        SCOPED_TRACE("link collection nodes");
        const auto lines = Lines("node");
        std::vector<HIDP_LINK_COLLECTION_NODE> nodes(lines.size() + 1);
        ULONG count = static_cast<ULONG>(nodes.size());
        ASSERT_EQ(HidP_GetLinkCollectionNodes(nodes.data(), &count, parsertest::Handle(data_)), HIDP_STATUS_SUCCESS);
        ASSERT_EQ(count, lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i)
            ExpectFields(ToMap(hidparse::LinkNodeFields(nodes[i])), *lines[i]);
    }

    void ExpectCapsLists() {
        for (const char* typeName : {"Input", "Output", "Feature"}) {
            for (bool buttons : {true, false}) {
                SCOPED_TRACE(std::string(typeName) + (buttons ? " buttons" : " values"));
                const auto lines = Lines(buttons ? "button" : "value", typeName);
                const auto actual = ActualCaps(TypeOf(typeName), buttons);
                ASSERT_EQ(actual.size(), lines.size());
                for (std::size_t i = 0; i < lines.size(); ++i) ExpectFields(actual[i], *lines[i]);
            }
        }
    }

    void ExpectListLengths() {
        for (const ExpectedLine& line : expected_) {
            if (line.kind != "lists") continue;
            const HIDP_REPORT_TYPE type = TypeOf(line.type);
            const FieldMap actual = {
                {"MaxUsageListLength", HidP_MaxUsageListLength(type, 0, parsertest::Handle(data_))},
                {"MaxDataListLength", HidP_MaxDataListLength(type, parsertest::Handle(data_))},
            };
            ExpectFields(actual, line);
        }
    }

    std::unique_ptr<hidparse::PreparsedData> data_;
    std::vector<ExpectedLine> expected_;
};

TEST_P(GoldenDescriptor, MatchesExpected) {
    ExpectCaps();
    ExpectLinkNodes();
    ExpectCapsLists();
    ExpectListLengths();
    EXPECT_EQ(hidparse::invariants::CheckPreparsed(*data_), "");
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

}  // namespace
