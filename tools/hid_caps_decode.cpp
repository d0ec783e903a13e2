#include "tools/hid_caps_decode.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "platform/hid/preparsed.h"
#include "tools/hid_caps_input.h"
#include "tools/hid_caps_json.h"

namespace hidcaps {
namespace {

constexpr int kExitUndecodable = 1;
constexpr int kExitUsage = 2;

std::string StatusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

bool ReportTypeFromName(const std::string& name, HIDP_REPORT_TYPE& type) {
    static const std::map<std::string, HIDP_REPORT_TYPE> kTypes = {
        {"input", HidP_Input}, {"output", HidP_Output}, {"feature", HidP_Feature}};
    auto it = kTypes.find(name);
    if (it == kTypes.end()) return false;
    type = it->second;
    return true;
}

// Everything the decoder reads from one report.
struct Decoding {
    HIDP_REPORT_TYPE type;
    PHIDP_PREPARSED_DATA preparsed;
    std::vector<char> report;
    ULONG Length() const { return static_cast<ULONG>(report.size()); }
    PCHAR Report() { return report.data(); }
    UCHAR ReportId() const { return report.empty() ? UCHAR{0} : static_cast<UCHAR>(report[0]); }
    // Capabilities of another report than the one byte 0 names are left out.
    bool InReport(UCHAR capsReportId) const { return ReportId() == 0 || capsReportId == ReportId(); }
};

template <class Caps, class Get>
std::vector<Caps> AllCaps(const Decoding& d, Get get) {
    USHORT count = 0;
    get(d.type, nullptr, &count, d.preparsed);  // answers the count with BUFFER_TOO_SMALL
    std::vector<Caps> caps(count);
    if (count != 0 && get(d.type, caps.data(), &count, d.preparsed) != HIDP_STATUS_SUCCESS) caps.clear();
    caps.resize(std::min<std::size_t>(caps.size(), count));
    return caps;
}

void WriteStatus(JsonWriter& json, NTSTATUS status) {
    json.Key("Status");
    json.String(StatusText(status));
}

NTSTATUS WriteDataList(JsonWriter& json, Decoding& d, const std::vector<HIDP_BUTTON_CAPS>& buttons) {
    std::vector<bool> isButton(0x10000, false);
    for (const HIDP_BUTTON_CAPS& c : buttons) {
        USHORT first = c.IsRange ? c.Range.DataIndexMin : c.NotRange.DataIndex;
        USHORT last = c.IsRange ? c.Range.DataIndexMax : c.NotRange.DataIndex;
        for (ULONG i = first; i <= last; ++i) isButton[i] = true;
    }
    std::vector<HIDP_DATA> data(HidP_MaxDataListLength(d.type, d.preparsed));
    auto count = static_cast<ULONG>(data.size());
    NTSTATUS status = HidP_GetData(d.type, data.data(), &count, d.preparsed, d.Report(), d.Length());
    json.Key("Data");
    json.BeginArray();
    for (ULONG i = 0; status == HIDP_STATUS_SUCCESS && i < count; ++i) {
        json.BeginObject();
        json.Key("DataIndex");
        json.Number(data[i].DataIndex);
        if (isButton[data[i].DataIndex]) {
            json.Key("On");
            json.Bool(data[i].On != 0);
        } else {
            json.Key("RawValue");
            json.Number(data[i].RawValue);
        }
        json.EndObject();
    }
    json.EndArray();
    return status;
}

void WriteButtons(JsonWriter& json, Decoding& d, const std::vector<HIDP_BUTTON_CAPS>& buttons) {
    json.Key("Buttons");
    json.BeginArray();
    for (const HIDP_BUTTON_CAPS& c : buttons) {
        if (!d.InReport(c.ReportID)) continue;
        USAGE first = c.IsRange ? c.Range.UsageMin : c.NotRange.Usage;
        USAGE last = c.IsRange ? c.Range.UsageMax : c.NotRange.Usage;
        std::vector<USAGE> on(HidP_MaxUsageListLength(d.type, c.UsagePage, d.preparsed));
        auto count = static_cast<ULONG>(on.size());
        NTSTATUS status = HidP_GetUsages(d.type, c.UsagePage, c.LinkCollection, on.data(), &count, d.preparsed,
                                         d.Report(), d.Length());
        json.BeginObject();
        json.Key("UsagePage");
        json.Number(c.UsagePage);
        json.Key("LinkCollection");
        json.Number(c.LinkCollection);
        json.Key("UsageMin");
        json.Number(first);
        json.Key("UsageMax");
        json.Number(last);
        if (status != HIDP_STATUS_SUCCESS) WriteStatus(json, status);
        json.Key("On");
        json.BeginArray();
        for (ULONG i = 0; status == HIDP_STATUS_SUCCESS && i < count; ++i)
            if (on[i] >= first && on[i] <= last) json.Number(on[i]);
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
}

void WriteValue(JsonWriter& json, Decoding& d, const HIDP_VALUE_CAPS& c, USAGE usage) {
    json.BeginObject();
    json.Key("UsagePage");
    json.Number(c.UsagePage);
    json.Key("LinkCollection");
    json.Number(c.LinkCollection);
    json.Key("Usage");
    json.Number(usage);
    bool isArray = !c.IsRange && c.ReportCount > 1;
    if (isArray) {
        // One byte per 8 bits of the array; the array functions answer NOT_IMPLEMENTED for
        // elements that are not whole bytes, and the first element is shown instead.
        std::vector<char> bytes((std::size_t{c.BitSize} * c.ReportCount + 7) / 8);
        NTSTATUS status = HidP_GetUsageValueArray(d.type, c.UsagePage, c.LinkCollection, usage, bytes.data(),
                                                  static_cast<USHORT>(std::min<std::size_t>(bytes.size(), 0xFFFF)),
                                                  d.preparsed, d.Report(), d.Length());
        if (status == HIDP_STATUS_SUCCESS) {
            json.Key("ValueArray");
            json.BeginArray();
            for (char byte : bytes) json.Number(static_cast<std::uint8_t>(byte));
            json.EndArray();
        }
    }
    ULONG raw = 0;
    NTSTATUS status =
        HidP_GetUsageValue(d.type, c.UsagePage, c.LinkCollection, usage, &raw, d.preparsed, d.Report(), d.Length());
    if (status == HIDP_STATUS_SUCCESS) {
        json.Key("RawValue");
        json.Number(raw);
    } else {
        WriteStatus(json, status);
    }
    LONG scaled = 0;
    status = HidP_GetScaledUsageValue(d.type, c.UsagePage, c.LinkCollection, usage, &scaled, d.preparsed, d.Report(),
                                      d.Length());
    if (status == HIDP_STATUS_SUCCESS) {
        json.Key("ScaledValue");
        json.Number(scaled);
    } else {
        json.Key("ScaledStatus");
        json.String(StatusText(status));
    }
    json.EndObject();
}

void WriteValues(JsonWriter& json, Decoding& d, const std::vector<HIDP_VALUE_CAPS>& values) {
    json.Key("Values");
    json.BeginArray();
    for (const HIDP_VALUE_CAPS& c : values) {
        if (!d.InReport(c.ReportID)) continue;
        USAGE first = c.IsRange ? c.Range.UsageMin : c.NotRange.Usage;
        USAGE last = c.IsRange ? c.Range.UsageMax : c.NotRange.Usage;
        for (ULONG usage = first; usage <= last; ++usage) WriteValue(json, d, c, static_cast<USAGE>(usage));
    }
    json.EndArray();
}

}  // namespace

int RunDecode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    HIDP_REPORT_TYPE type = HidP_Input;
    if (args.size() != 3 || !ReportTypeFromName(args[0], type)) {
        err << "usage: hid_caps --decode input|output|feature <hex report> <descriptor>\n";
        return kExitUsage;
    }
    std::vector<std::uint8_t> report;
    std::vector<std::uint8_t> descriptor;
    std::string error;
    if (!DecodeHexText(args[1], report, error)) {
        err << "hid_caps: report: " << error << '\n';
        return kExitUsage;
    }
    if (!LoadDescriptor(args[2], descriptor, error)) {
        err << "hid_caps: " << error << '\n';
        return kExitUsage;
    }
    std::unique_ptr<hidparse::PreparsedData> parsed;
    NTSTATUS status = hidparse::ParseReportDescriptor(descriptor, parsed);
    if (status != HIDP_STATUS_SUCCESS) {
        err << "hid_caps: " << args[2] << ": descriptor refused (status " << StatusText(status) << ")\n";
        return kExitUndecodable;
    }
    Decoding d{type, hidparse::ToHandle(parsed.get()), std::vector<char>(report.begin(), report.end())};
    HIDP_CAPS caps{};
    HidP_GetCaps(d.preparsed, &caps);
    USHORT lengths[3] = {caps.InputReportByteLength, caps.OutputReportByteLength, caps.FeatureReportByteLength};
    if (report.size() != lengths[type]) {
        err << "hid_caps: the report has " << report.size() << " bytes; " << hidparse::ReportTypeName(type)
            << " reports of this descriptor have " << lengths[type] << ", byte 0 the report ID\n";
        return kExitUndecodable;
    }
    auto buttons = AllCaps<HIDP_BUTTON_CAPS>(d, HidP_GetButtonCaps);
    auto values = AllCaps<HIDP_VALUE_CAPS>(d, HidP_GetValueCaps);
    JsonWriter json(out);
    json.BeginObject();
    json.Key("ReportType");
    json.String(hidparse::ReportTypeName(type));
    json.Key("ReportID");
    json.Number(d.ReportId());
    status = WriteDataList(json, d, buttons);
    WriteButtons(json, d, buttons);
    WriteValues(json, d, values);
    json.EndObject();
    json.Finish();
    if (status != HIDP_STATUS_SUCCESS) {
        err << "hid_caps: HidP_GetData failed, status " << StatusText(status) << '\n';
        return kExitUndecodable;
    }
    return 0;
}

}  // namespace hidcaps
