#include "platform/hid/hidp_fields.h"

namespace hidparse {
namespace {

template <typename Caps>
void AddCommon(Fields& f, const Caps& c) {
    f.insert(f.end(), {{"UsagePage", c.UsagePage},
                       {"ReportID", c.ReportID},
                       {"IsAlias", c.IsAlias},
                       {"BitField", c.BitField},
                       {"LinkCollection", c.LinkCollection},
                       {"LinkUsage", c.LinkUsage},
                       {"LinkUsagePage", c.LinkUsagePage},
                       {"IsRange", c.IsRange},
                       {"IsStringRange", c.IsStringRange},
                       {"IsDesignatorRange", c.IsDesignatorRange},
                       {"IsAbsolute", c.IsAbsolute}});
}

template <typename Caps>
void AddUnion(Fields& f, const Caps& c) {
    if (c.IsRange)
        f.insert(f.end(), {{"UsageMin", c.Range.UsageMin}, {"UsageMax", c.Range.UsageMax}});
    else
        f.push_back({"Usage", c.NotRange.Usage});
    if (c.IsStringRange)
        f.insert(f.end(), {{"StringMin", c.Range.StringMin}, {"StringMax", c.Range.StringMax}});
    else
        f.push_back({"StringIndex", c.NotRange.StringIndex});
    if (c.IsDesignatorRange)
        f.insert(f.end(), {{"DesignatorMin", c.Range.DesignatorMin}, {"DesignatorMax", c.Range.DesignatorMax}});
    else
        f.push_back({"DesignatorIndex", c.NotRange.DesignatorIndex});
    if (c.IsRange)
        f.insert(f.end(), {{"DataIndexMin", c.Range.DataIndexMin}, {"DataIndexMax", c.Range.DataIndexMax}});
    else
        f.push_back({"DataIndex", c.NotRange.DataIndex});
}

}  // namespace

Fields CapsFields(const HIDP_CAPS& c) {
    return {{"Usage", c.Usage},
            {"UsagePage", c.UsagePage},
            {"InputReportByteLength", c.InputReportByteLength},
            {"OutputReportByteLength", c.OutputReportByteLength},
            {"FeatureReportByteLength", c.FeatureReportByteLength},
            {"NumberLinkCollectionNodes", c.NumberLinkCollectionNodes},
            {"NumberInputButtonCaps", c.NumberInputButtonCaps},
            {"NumberInputValueCaps", c.NumberInputValueCaps},
            {"NumberInputDataIndices", c.NumberInputDataIndices},
            {"NumberOutputButtonCaps", c.NumberOutputButtonCaps},
            {"NumberOutputValueCaps", c.NumberOutputValueCaps},
            {"NumberOutputDataIndices", c.NumberOutputDataIndices},
            {"NumberFeatureButtonCaps", c.NumberFeatureButtonCaps},
            {"NumberFeatureValueCaps", c.NumberFeatureValueCaps},
            {"NumberFeatureDataIndices", c.NumberFeatureDataIndices}};
}

Fields ButtonCapsFields(const HIDP_BUTTON_CAPS& c) {
    Fields f;
    AddCommon(f, c);
    f.push_back({"ReportCount", c.ReportCount});
    AddUnion(f, c);
    return f;
}

Fields ValueCapsFields(const HIDP_VALUE_CAPS& c) {
    Fields f;
    AddCommon(f, c);
    f.insert(f.end(), {{"HasNull", c.HasNull},
                       {"BitSize", c.BitSize},
                       {"ReportCount", c.ReportCount},
                       {"UnitsExp", c.UnitsExp},
                       {"Units", c.Units},
                       {"LogicalMin", c.LogicalMin},
                       {"LogicalMax", c.LogicalMax},
                       {"PhysicalMin", c.PhysicalMin},
                       {"PhysicalMax", c.PhysicalMax}});
    AddUnion(f, c);
    return f;
}

Fields LinkNodeFields(const HIDP_LINK_COLLECTION_NODE& n) {
    return {{"LinkUsage", n.LinkUsage},
            {"LinkUsagePage", n.LinkUsagePage},
            {"Parent", n.Parent},
            {"NumberOfChildren", n.NumberOfChildren},
            {"NextSibling", n.NextSibling},
            {"FirstChild", n.FirstChild},
            {"CollectionType", n.CollectionType},
            {"IsAlias", n.IsAlias}};
}

const char* ReportTypeName(HIDP_REPORT_TYPE type) {
    switch (type) {
        case HidP_Input: return "Input";
        case HidP_Output: return "Output";
        case HidP_Feature: return "Feature";
    }
    return "?";
}

}  // namespace hidparse
