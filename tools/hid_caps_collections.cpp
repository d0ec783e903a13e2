#include "tools/hid_caps_collections.h"

namespace hidcaps {
namespace {

struct Item {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint8_t type = 0;  // 0 main, 1 global, 2 local, 3 long item
    std::uint8_t tag = 0;
};

constexpr std::uint8_t kMain = 0, kGlobal = 1, kLong = 3;  // local items (2) need no name here
constexpr std::uint8_t kCollectionTag = 0xA, kEndCollectionTag = 0xC;

// The items of the descriptor; false when one runs past its end.
bool Items(std::span<const std::uint8_t> d, std::vector<Item>& items) {
    static constexpr std::size_t kDataSize[4] = {0, 1, 2, 4};
    std::size_t at = 0;
    while (at < d.size()) {
        Item item;
        item.begin = at;
        if (d[at] == 0xFE) {
            if (at + 1 >= d.size()) return false;
            item.type = kLong;
            item.end = at + 3 + d[at + 1];
        } else {
            item.type = static_cast<std::uint8_t>((d[at] >> 2) & 0x3);
            item.tag = static_cast<std::uint8_t>(d[at] >> 4);
            item.end = at + 1 + kDataSize[d[at] & 0x3];
        }
        if (item.end > d.size()) return false;
        items.push_back(item);
        at = item.end;
    }
    return true;
}

}  // namespace

std::vector<std::vector<std::uint8_t>> SplitTopLevelCollections(std::span<const std::uint8_t> descriptor) {
    std::vector<std::vector<std::uint8_t>> out;
    std::vector<Item> items;
    if (!Items(descriptor, items)) return {{descriptor.begin(), descriptor.end()}};
    auto append = [&](std::vector<std::uint8_t>& to, const Item& item) {
        to.insert(to.end(), descriptor.begin() + static_cast<std::ptrdiff_t>(item.begin),
                  descriptor.begin() + static_cast<std::ptrdiff_t>(item.end));
    };
    std::vector<std::uint8_t> globals;  // every global item so far: their state carries on
    std::size_t localsFrom = 0;         // first item since the last main item
    int depth = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        if (item.type != kMain) {
            if (item.type == kGlobal) append(globals, item);
            continue;
        }
        if (item.tag == kCollectionTag && depth++ == 0) {
            // The collection's own local items (its usage) come with it, then the rest.
            std::vector<std::uint8_t> tlc = globals;
            for (std::size_t k = localsFrom; k < i; ++k)
                if (items[k].type != kGlobal) append(tlc, items[k]);
            for (std::size_t k = i; k < items.size(); ++k) append(tlc, items[k]);
            out.push_back(std::move(tlc));
        } else if (item.tag == kEndCollectionTag && depth > 0) {
            --depth;
        }
        localsFrom = i + 1;
    }
    if (out.empty()) out.emplace_back(descriptor.begin(), descriptor.end());
    return out;
}

}  // namespace hidcaps
