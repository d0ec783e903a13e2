#include "tools/hid_caps_collections.h"

#include <array>
#include <cstdio>
#include <memory>

#include "platform/hid/preparsed.h"
#include "tools/hid_caps_json.h"

namespace hidcaps {
namespace {

constexpr int kExitRefused = 1;

struct Item {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint8_t type = 0;  // 0 main, 1 global, 2 local, 3 long item
    std::uint8_t tag = 0;
};

constexpr std::uint8_t kMain = 0, kGlobal = 1, kLong = 3;  // local items (2) need no name here
constexpr std::uint8_t kCollectionTag = 0xA, kEndCollectionTag = 0xC;
constexpr std::uint8_t kPushTag = 0xA, kPopTag = 0xB;
constexpr std::uint8_t kPushItem = 0xA4;  // Push, no data

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

// The global state at a point of the descriptor as the items that set it: per Push level
// the last item of each tag (each tag sets one field of the state, so an earlier item of
// the same tag no longer counts). Replayed with a Push between levels, it gives the same
// state and the same stack as every global item before that point.
class GlobalState {
public:
    void Apply(std::size_t index, const Item& item) {
        if (item.tag == kPushTag) {
            // A deeper stack refuses the descriptor in the first entry; more levels would
            // only make every later entry longer.
            if (levels_.size() <= hidparse::kMaxGlobalStackDepth) levels_.push_back(Empty());
        } else if (item.tag == kPopTag) {
            if (levels_.size() > 1) levels_.pop_back();  // else refused in the first entry
        } else {
            levels_.back()[item.tag] = index;
        }
    }

    void AppendTo(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> descriptor,
                  const std::vector<Item>& items) const {
        for (std::size_t level = 0; level < levels_.size(); ++level) {
            if (level > 0) out.push_back(kPushItem);
            for (std::size_t index : levels_[level]) {
                if (index == kNone) continue;
                const Item& item = items[index];
                out.insert(out.end(), descriptor.begin() + static_cast<std::ptrdiff_t>(item.begin),
                           descriptor.begin() + static_cast<std::ptrdiff_t>(item.end));
            }
        }
    }

private:
    static constexpr std::size_t kNone = SIZE_MAX;
    using Level = std::array<std::size_t, 16>;  // item index per global tag
    static Level Empty() {
        Level level;
        level.fill(kNone);
        return level;
    }
    std::vector<Level> levels_{Empty()};
};

std::string StatusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

}  // namespace

std::vector<std::vector<std::uint8_t>> SplitTopLevelCollections(std::span<const std::uint8_t> descriptor) {
    std::vector<std::vector<std::uint8_t>> out;
    std::vector<Item> items;
    if (!Items(descriptor, items)) return {{descriptor.begin(), descriptor.end()}};
    auto append = [&](std::vector<std::uint8_t>& to, std::size_t from, std::size_t end) {
        to.insert(to.end(), descriptor.begin() + static_cast<std::ptrdiff_t>(from),
                  descriptor.begin() + static_cast<std::ptrdiff_t>(end));
    };
    std::vector<std::uint8_t> firstGlobals;  // every global item before the first collection
    GlobalState globals;
    std::size_t localsFrom = 0;  // first item since the last main item
    std::size_t opened = 0;      // where the current top-level collection's Collection item starts
    int depth = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        if (item.type == kGlobal) {
            globals.Apply(i, item);
            if (out.empty()) append(firstGlobals, item.begin, item.end);
            continue;
        }
        if (item.type != kMain) continue;
        if (item.tag == kCollectionTag && depth++ == 0) {
            std::vector<std::uint8_t> tlc;
            if (out.empty())
                tlc = std::move(firstGlobals);
            else
                globals.AppendTo(tlc, descriptor, items);
            // The collection's own local items (its usage) come with it, then its items.
            for (std::size_t k = localsFrom; k < i; ++k)
                if (items[k].type != kGlobal) append(tlc, items[k].begin, items[k].end);
            opened = item.begin;
            if (out.empty()) append(tlc, opened, descriptor.size());  // the first: to the end
            out.push_back(std::move(tlc));
        } else if (item.tag == kEndCollectionTag && depth > 0 && --depth == 0 && out.size() > 1) {
            append(out.back(), opened, item.end);
        }
        localsFrom = i + 1;
    }
    if (depth > 0 && out.size() > 1) append(out.back(), opened, descriptor.size());  // never closed
    if (out.empty()) out.emplace_back(descriptor.begin(), descriptor.end());
    return out;
}

int PrintTopLevelCollections(const std::string& name, std::span<const std::uint8_t> descriptor, std::ostream& out,
                             std::ostream& err) {
    const auto collections = SplitTopLevelCollections(descriptor);
    std::vector<std::unique_ptr<hidparse::PreparsedData>> parsed(collections.size());
    for (std::size_t i = 0; i < collections.size(); ++i) {
        const NTSTATUS status = hidparse::ParseReportDescriptor(collections[i], parsed[i]);
        if (status != HIDP_STATUS_SUCCESS) {
            err << "hid_caps: " << name << ": descriptor refused (" << descriptor.size() << " bytes";
            if (collections.size() > 1) err << ", top-level collection " << i + 1;
            err << ", status " << StatusText(status) << ")\n";
            return kExitRefused;
        }
    }
    JsonWriter json(out);
    if (parsed.size() > 1) {
        json.BeginObject();
        json.Key("TopLevelCollections");
        json.BeginArray();
    }
    NTSTATUS written = HIDP_STATUS_SUCCESS;
    for (std::size_t i = 0; i < parsed.size() && written == HIDP_STATUS_SUCCESS; ++i)
        written = WritePreparsed(json, hidparse::ToHandle(parsed[i].get()));
    if (parsed.size() > 1) {
        json.EndArray();
        json.EndObject();
    }
    json.Finish();
    if (written != HIDP_STATUS_SUCCESS) {
        err << "hid_caps: capability query failed, status " << StatusText(written) << '\n';
        return kExitRefused;
    }
    return 0;
}

}  // namespace hidcaps
