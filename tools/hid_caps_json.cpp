#include "tools/hid_caps_json.h"

#include <cstdio>

namespace hidcaps {

void JsonWriter::Open(char bracket, bool isArray) {
    BeforeValue();
    out_ << bracket;
    levels_.push_back({isArray, true});
}

void JsonWriter::Close(char bracket) {
    const bool empty = levels_.back().empty;
    levels_.pop_back();
    if (!empty) NewLine();
    out_ << bracket;
}

void JsonWriter::Key(std::string_view name) {
    BeforeValue();
    WriteEscaped(name);
    out_ << ": ";
    afterKey_ = true;
}

void JsonWriter::Number(long long value) {
    BeforeValue();
    out_ << value;
}

void JsonWriter::String(std::string_view text) {
    BeforeValue();
    WriteEscaped(text);
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ << (value ? "true" : "false");
}

// Separates and indents a new member or element; a value right after its key stays on
// the key's line.
void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) return;
    if (!levels_.back().empty) out_ << ',';
    levels_.back().empty = false;
    NewLine();
}

void JsonWriter::NewLine() {
    out_ << '\n';
    for (std::size_t i = 0; i < levels_.size(); ++i) out_ << "  ";
}

void JsonWriter::WriteEscaped(std::string_view text) {
    out_ << '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out_ << '\\' << c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out_ << escaped;
        } else {
            out_ << c;
        }
    }
    out_ << '"';
}

void WriteFields(JsonWriter& json, const hidparse::Fields& fields) {
    json.BeginObject();
    for (const hidparse::Field& f : fields) {
        json.Key(f.name);
        json.Number(f.value);
    }
    json.EndObject();
}

namespace {

const HIDP_REPORT_TYPE kTypes[3] = {HidP_Input, HidP_Output, HidP_Feature};

// Fetches one kind of capability list; an empty list is USAGE_NOT_FOUND, not a failure.
template <typename Caps, typename Get, typename ToFields>
NTSTATUS WriteCapsList(JsonWriter& json, HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed, Get get,
                       ToFields toFields) {
    USHORT count = 0;
    NTSTATUS status = get(type, nullptr, &count, preparsed);
    std::vector<Caps> caps(count);
    if (status == HIDP_STATUS_BUFFER_TOO_SMALL) status = get(type, caps.data(), &count, preparsed);
    if (status == HIDP_STATUS_USAGE_NOT_FOUND) status = HIDP_STATUS_SUCCESS;
    json.BeginArray();
    for (const Caps& c : caps) WriteFields(json, toFields(c));
    json.EndArray();
    return status;
}

template <typename Caps, typename Get, typename ToFields>
NTSTATUS WriteCapsPerType(JsonWriter& json, PHIDP_PREPARSED_DATA preparsed, Get get, ToFields toFields) {
    NTSTATUS status = HIDP_STATUS_SUCCESS;
    json.BeginObject();
    for (HIDP_REPORT_TYPE type : kTypes) {
        json.Key(hidparse::ReportTypeName(type));
        const NTSTATUS s = WriteCapsList<Caps>(json, type, preparsed, get, toFields);
        if (status == HIDP_STATUS_SUCCESS) status = s;
    }
    json.EndObject();
    return status;
}

NTSTATUS WriteLinkNodes(JsonWriter& json, PHIDP_PREPARSED_DATA preparsed) {
    ULONG count = 0;
    NTSTATUS status = HidP_GetLinkCollectionNodes(nullptr, &count, preparsed);
    std::vector<HIDP_LINK_COLLECTION_NODE> nodes(count);
    if (status == HIDP_STATUS_BUFFER_TOO_SMALL) status = HidP_GetLinkCollectionNodes(nodes.data(), &count, preparsed);
    json.BeginArray();
    for (const auto& node : nodes) WriteFields(json, hidparse::LinkNodeFields(node));
    json.EndArray();
    return status;
}

}  // namespace

NTSTATUS WritePreparsed(JsonWriter& json, PHIDP_PREPARSED_DATA preparsed) {
    HIDP_CAPS caps{};
    NTSTATUS status = HidP_GetCaps(preparsed, &caps);
    if (status != HIDP_STATUS_SUCCESS) return status;
    json.BeginObject();
    json.Key("Caps");
    WriteFields(json, hidparse::CapsFields(caps));
    json.Key("ButtonCaps");
    const NTSTATUS buttons =
        WriteCapsPerType<HIDP_BUTTON_CAPS>(json, preparsed, HidP_GetButtonCaps, hidparse::ButtonCapsFields);
    json.Key("ValueCaps");
    const NTSTATUS values =
        WriteCapsPerType<HIDP_VALUE_CAPS>(json, preparsed, HidP_GetValueCaps, hidparse::ValueCapsFields);
    json.Key("LinkCollectionNodes");
    const NTSTATUS nodes = WriteLinkNodes(json, preparsed);
    json.EndObject();
    for (NTSTATUS s : {buttons, values, nodes})
        if (s != HIDP_STATUS_SUCCESS) return s;
    return HIDP_STATUS_SUCCESS;
}

}  // namespace hidcaps
