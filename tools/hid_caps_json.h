// A tiny JSON writer and the writers of the HidP records on top of it, kept apart from
// hid_caps' main so that other modes of the tool (a report decoder, say) can reuse them.
#pragma once

#include <ostream>
#include <string_view>
#include <vector>

#include "platform/hid/hidp_fields.h"
#include "platform/hid/hidpi.h"

namespace hidcaps {

// Writes indented JSON to a stream; the caller keeps Begin/End calls balanced and gives a
// Key before every value inside an object.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    void BeginObject() { Open('{', false); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('[', true); }
    void EndArray() { Close(']'); }
    void Key(std::string_view name);
    void Number(long long value);
    void String(std::string_view text);
    void Bool(bool value);
    // Ends the document with a newline.
    void Finish() { out_ << '\n'; }

private:
    struct Level {
        bool isArray;
        bool empty;
    };
    void Open(char bracket, bool isArray);
    void Close(char bracket);
    void BeforeValue();
    void NewLine();
    void WriteEscaped(std::string_view text);

    std::ostream& out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

// One object whose keys are the record's member names.
void WriteFields(JsonWriter& json, const hidparse::Fields& fields);

// HIDP_CAPS, every button and value capability per report type, and every link
// collection node, as one object: {"Caps": ..., "ButtonCaps": {"Input": [...], ...},
// "ValueCaps": {...}, "LinkCollectionNodes": [...]}. Answers the first failing HidP status.
NTSTATUS WritePreparsed(JsonWriter& json, PHIDP_PREPARSED_DATA preparsed);

}  // namespace hidcaps
