// Preparsed data for the HidP report tests, built from main items the way Windows lays
// them out (report-ID byte counted, last declared Variable entry covering the remaining
// fields, records listed last entry first, Array data indices in declaration order), so
// that a test reads like the descriptor it stands for.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/hid/hidpi.h"
#include "platform/hid/preparsed.h"

namespace hidptest {

struct Entry {
    USAGE page = 0;
    USAGE min = 0;
    USAGE max = 0;
    bool range = false;
    std::uint32_t Count() const { return std::uint32_t{max} - min + 1u; }
};
inline Entry Usage(USAGE page, USAGE usage) { return {page, usage, usage, false}; }
inline Entry Range(USAGE page, USAGE min, USAGE max) { return {page, min, max, true}; }

struct Item {
    HIDP_REPORT_TYPE type = HidP_Input;
    UCHAR reportId = 0;
    std::vector<Entry> usages;  // none: padding
    USHORT size = 1;
    USHORT count = 1;
    bool array = false;
    bool hasNull = false;
    LONG logicalMin = 0, logicalMax = 0;
    LONG physicalMin = 0, physicalMax = 0;
    USHORT link = 0;
};

class Builder {
public:
    Builder& Add(Item item) {
        items_.push_back(std::move(item));
        return *this;
    }

    std::unique_ptr<hidparse::PreparsedData> Build() const {
        auto data = std::make_unique<hidparse::PreparsedData>();
        std::map<std::pair<int, UCHAR>, std::uint32_t> bits;  // per (type, report ID)
        USHORT nextIndex[3] = {0, 0, 0};
        std::uint32_t mainItem = 0;
        for (const Item& item : items_) {
            auto& counter = bits.try_emplace({item.type, item.reportId}, 8u).first->second;
            std::uint32_t start = counter;
            counter += std::uint32_t{item.size} * item.count;
            ++mainItem;
            if (item.usages.empty() || item.count == 0) continue;
            auto& records = data->records[item.type];
            USHORT& index = nextIndex[item.type];
            if (item.array) {
                std::vector<hidparse::Record> made;
                USHORT position = 1;
                for (const Entry& entry : item.usages) {
                    hidparse::Record r = Common(item, entry, start, item.count, mainItem);
                    r.isButton = true;
                    r.isArray = true;
                    r.arrayPosition = position;
                    position = static_cast<USHORT>(position + entry.Count());
                    Take(r, entry, index);
                    made.push_back(r);
                }
                records.insert(records.end(), made.rbegin(), made.rend());
            } else {
                std::size_t used = std::min<std::size_t>(item.usages.size(), item.count);
                for (std::size_t j = used; j-- > 0;) {
                    bool last = j + 1 == used;
                    auto fields = static_cast<USHORT>(last ? item.count - (used - 1) : 1);
                    hidparse::Record r = Common(item, item.usages[j],
                                                start + static_cast<std::uint32_t>(j) * item.size, fields, mainItem);
                    r.isButton = item.size == 1;
                    Take(r, item.usages[j], index);
                    records.push_back(r);
                }
            }
            auto& ids = data->reportIds[item.type];
            if (std::find(ids.begin(), ids.end(), item.reportId) == ids.end()) ids.push_back(item.reportId);
        }
        USHORT* lengths[3] = {&data->caps.InputReportByteLength, &data->caps.OutputReportByteLength,
                              &data->caps.FeatureReportByteLength};
        for (const auto& [key, count] : bits)
            *lengths[key.first] = std::max(*lengths[key.first], static_cast<USHORT>((count + 7) / 8));
        data->caps.NumberLinkCollectionNodes = 1;
        data->linkNodes.push_back(HIDP_LINK_COLLECTION_NODE{});
        return data;
    }

private:
    static hidparse::Record Common(const Item& item, const Entry& entry, std::uint32_t start, USHORT fields,
                                   std::uint32_t mainItem) {
        hidparse::Record r;
        r.reportType = item.type;
        r.reportId = item.reportId;
        r.usagePage = entry.page;
        r.isRange = entry.range;
        r.hasNull = item.hasNull;
        r.usageMin = entry.min;
        r.usageMax = entry.max;
        r.bitSize = item.size;
        r.reportCount = fields;
        r.startBit = start;
        r.linkCollection = item.link;
        r.mainItem = mainItem;
        bool varButton = item.size == 1 && !item.array;
        r.logicalMin = varButton ? 0 : item.logicalMin;
        r.logicalMax = varButton ? 0 : item.logicalMax;
        r.physicalMin = item.physicalMin;
        r.physicalMax = item.physicalMax;
        return r;
    }

    static void Take(hidparse::Record& r, const Entry& entry, USHORT& index) {
        r.dataIndexMin = index;
        index = static_cast<USHORT>(index + (entry.range ? entry.Count() : 1u));
        r.dataIndexMax = static_cast<USHORT>(index - 1);
    }

    std::vector<Item> items_;
};

// Owns a PreparsedData and hands out its handle.
struct Parsed {
    std::unique_ptr<hidparse::PreparsedData> data;
    explicit Parsed(const Builder& builder) : data(builder.Build()) {}
    PHIDP_PREPARSED_DATA Handle() const { return hidparse::ToHandle(data.get()); }
    ULONG Length(HIDP_REPORT_TYPE type) const {
        switch (type) {
        case HidP_Input: return data->caps.InputReportByteLength;
        case HidP_Output: return data->caps.OutputReportByteLength;
        case HidP_Feature: return data->caps.FeatureReportByteLength;
        }
        return 0;
    }
    // A report buffer of exactly the type's length, so that AddressSanitizer sees any
    // access past it.
    std::vector<char> Report(HIDP_REPORT_TYPE type, UCHAR id = 0) const {
        std::vector<char> report(Length(type), 0);
        if (!report.empty()) report[0] = static_cast<char>(id);
        return report;
    }
};

inline constexpr USAGE kPageDesktop = 0x01;
inline constexpr USAGE kPageKeyboard = 0x07;
inline constexpr USAGE kPageLed = 0x08;
inline constexpr USAGE kPageButton = 0x09;
inline constexpr USAGE kPageVendor = 0xFF00;
inline constexpr USAGE kPageVendor2 = 0xFF01;

inline constexpr USAGE kX = 0x30, kY = 0x31, kRz = 0x35, kSlider = 0x36, kHat = 0x39;

// A game controller. Input (9 bytes): buttons 1-8 at bit 8, a 4-bit hat switch 0..7
// (physical 0..315, Null State) at 16, a 12-bit Rz at 20, X and Y (8-bit, -127..127,
// physical -1000..1000, link collection 1) at 32 and 40, a 22-bit slider at 48, 2 bits of
// padding. Data indices: buttons 0-7, hat 8, Rz 9, Y 10, X 11, slider 12.
// Feature (23 bytes): vendor value arrays 1 (8-bit x 4, bit 8), 2 (4-bit x 3, bit 40),
// 3 (48-bit x 2, bit 56), value 4 (16-bit, 0..100, bit 152), range 0x10-0x11 (8-bit x 2,
// bit 168). Output (4 bytes): LEDs 1-3, padding, usage 0x20 with Logical 10..5 (bad),
// usage 0x21 (Logical 0..255, Physical 0..1000).
inline Builder GameController() {
    Builder b;
    b.Add({.usages = {Range(kPageButton, 1, 8)}, .size = 1, .count = 8, .logicalMax = 1});
    b.Add({.usages = {Usage(kPageDesktop, kHat)}, .size = 4, .count = 1, .hasNull = true, .logicalMax = 7,
           .physicalMax = 315});
    b.Add({.usages = {Usage(kPageDesktop, kRz)}, .size = 12, .count = 1, .logicalMax = 4095});
    b.Add({.usages = {Usage(kPageDesktop, kX), Usage(kPageDesktop, kY)}, .size = 8, .count = 2, .logicalMin = -127,
           .logicalMax = 127, .physicalMin = -1000, .physicalMax = 1000, .link = 1});
    b.Add({.usages = {Usage(kPageDesktop, kSlider)}, .size = 22, .count = 1, .logicalMax = 0x3FFFFF});
    b.Add({.size = 2, .count = 1});
    b.Add({.type = HidP_Feature, .usages = {Usage(kPageVendor, 1)}, .size = 8, .count = 4, .logicalMax = 255});
    b.Add({.type = HidP_Feature, .usages = {Usage(kPageVendor, 2)}, .size = 4, .count = 3, .logicalMax = 15});
    b.Add({.type = HidP_Feature, .size = 4, .count = 1});
    b.Add({.type = HidP_Feature, .usages = {Usage(kPageVendor, 3)}, .size = 48, .count = 2, .logicalMax = 15});
    b.Add({.type = HidP_Feature, .usages = {Usage(kPageVendor, 4)}, .size = 16, .count = 1, .logicalMax = 100});
    b.Add({.type = HidP_Feature, .usages = {Range(kPageVendor, 0x10, 0x11)}, .size = 8, .count = 2,
           .logicalMax = 255});
    b.Add({.type = HidP_Output, .usages = {Range(kPageLed, 1, 3)}, .size = 1, .count = 3, .logicalMax = 1});
    b.Add({.type = HidP_Output, .size = 5, .count = 1});
    b.Add({.type = HidP_Output, .usages = {Usage(kPageVendor, 0x20)}, .size = 8, .count = 1, .logicalMin = 10,
           .logicalMax = 5});
    b.Add({.type = HidP_Output, .usages = {Usage(kPageVendor, 0x21)}, .size = 8, .count = 1, .logicalMax = 255,
           .physicalMax = 1000});
    return b;
}

// The same controller with report IDs: input report 1 holds buttons, hat and Rz (4 bytes),
// report 2 holds X, Y and the slider (6 bytes); feature report 1 holds vendor value 4.
inline Builder GameControllerWithIds() {
    Builder b;
    b.Add({.reportId = 1, .usages = {Range(kPageButton, 1, 8)}, .size = 1, .count = 8, .logicalMax = 1});
    b.Add({.reportId = 1, .usages = {Usage(kPageDesktop, kHat)}, .size = 4, .count = 1, .hasNull = true,
           .logicalMax = 7, .physicalMax = 315});
    b.Add({.reportId = 1, .usages = {Usage(kPageDesktop, kRz)}, .size = 12, .count = 1, .logicalMax = 4095});
    b.Add({.reportId = 2, .usages = {Usage(kPageDesktop, kX), Usage(kPageDesktop, kY)}, .size = 8, .count = 2,
           .logicalMin = -127, .logicalMax = 127, .physicalMin = -1000, .physicalMax = 1000});
    b.Add({.reportId = 2, .usages = {Usage(kPageDesktop, kSlider)}, .size = 22, .count = 1, .logicalMax = 0x3FFFFF});
    b.Add({.reportId = 2, .size = 2, .count = 1});
    b.Add({.type = HidP_Feature, .reportId = 1, .usages = {Usage(kPageVendor, 4)}, .size = 16, .count = 1,
           .logicalMax = 100});
    b.Add({.type = HidP_Output, .reportId = 3, .size = 8, .count = 1});  // padding only: report 3 has no record
    return b;
}

// A boot keyboard. Input (9 bytes): modifiers 0xE0-0xE7 at bit 8 (data 0-7), a reserved
// byte, a key array 0x00-0x65 (8-bit x 6, Logical 0..0x65) at bit 24 (data 8-109).
// Output (2 bytes): LEDs 1-5 (data 0-4) and 3 bits of padding.
inline Builder Keyboard() {
    Builder b;
    b.Add({.usages = {Range(kPageKeyboard, 0xE0, 0xE7)}, .size = 1, .count = 8, .logicalMax = 1});
    b.Add({.size = 8, .count = 1});
    b.Add({.usages = {Range(kPageKeyboard, 0x00, 0x65)}, .size = 8, .count = 6, .array = true, .logicalMax = 0x65});
    b.Add({.type = HidP_Output, .usages = {Range(kPageLed, 1, 5)}, .size = 1, .count = 5, .logicalMax = 1});
    b.Add({.type = HidP_Output, .size = 3, .count = 1});
    return b;
}

// Array items. Input (7 bytes): range 0x08-0x0F with Logical 0..7 (8-bit x 2, bit 8,
// data 0-7); the list 0x8C, 0x8D, 0x8E, 0x8F (8-bit x 2, bit 24, data 8-11); buttons 1-3
// and vendor usage 0x20 on one item (4-bit x 3, bit 40, data 12-14 and 15); padding.
inline Builder Arrays() {
    Builder b;
    b.Add({.usages = {Range(kPageVendor2, 0x08, 0x0F)}, .size = 8, .count = 2, .array = true, .logicalMax = 7});
    b.Add({.usages = {Usage(kPageVendor2, 0x8C), Usage(kPageVendor2, 0x8D), Usage(kPageVendor2, 0x8E),
                      Usage(kPageVendor2, 0x8F)},
           .size = 8, .count = 2, .array = true, .logicalMin = 1, .logicalMax = 4});
    b.Add({.usages = {Range(kPageButton, 1, 3), Usage(kPageVendor2, 0x20)}, .size = 4, .count = 3, .array = true,
           .logicalMin = 1, .logicalMax = 4});
    b.Add({.size = 4, .count = 1});
    return b;
}

}  // namespace hidptest
