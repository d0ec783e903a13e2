#include "platform/hid/hid_transport.h"

#include <algorithm>
#include <mutex>
#include <optional>

namespace hidtransport {
namespace {

struct Registry {
    std::mutex lock;
    std::vector<std::pair<int, std::shared_ptr<Provider>>> providers;
    std::vector<std::pair<int, std::shared_ptr<Provider>>> overrides;  // oldest first
};

// Never destroyed: a static ProviderOverride may end after it would have been.
Registry& TheRegistry() {
    static Registry& registry = *new Registry;
    return registry;
}

}  // namespace

bool IsUsbPortPath(std::u16string_view text) {
    // One number, 1 to 999 without leading zeros (buses and ports count from 1). Answers
    // the rest after it, or nothing.
    auto number = [](std::u16string_view rest) -> std::optional<std::u16string_view> {
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= u'0' && rest[digits] <= u'9') ++digits;
        if (digits == 0 || digits > 3 || rest[0] == u'0') return std::nullopt;
        return rest.substr(digits);
    };
    auto rest = number(text);
    if (!rest || rest->empty() || rest->front() != u'-') return false;
    rest = rest->substr(1);
    for (int ports = 1; ports <= 7; ++ports) {
        rest = number(*rest);
        if (!rest) return false;
        if (rest->empty()) return true;
        if (rest->front() != u'.') return false;
        rest = rest->substr(1);
    }
    return false;
}

void RegisterProvider(int rank, std::shared_ptr<Provider> provider) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.providers.emplace_back(rank, std::move(provider));
    std::stable_sort(registry.providers.begin(), registry.providers.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::vector<std::shared_ptr<Provider>> Providers() {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto overridden = [&](int rank) {
        return std::any_of(registry.overrides.begin(), registry.overrides.end(),
                           [&](const auto& entry) { return entry.first == rank; });
    };
    std::vector<std::pair<int, std::shared_ptr<Provider>>> ranked;
    for (auto& entry : registry.providers)
        if (!overridden(entry.first)) ranked.push_back(entry);
    for (auto it = registry.overrides.rbegin(); it != registry.overrides.rend(); ++it) {
        bool newest = std::none_of(ranked.begin(), ranked.end(), [&](const auto& e) { return e.first == it->first; });
        if (newest) ranked.push_back(*it);
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::shared_ptr<Provider>> out;
    for (auto& entry : ranked) out.push_back(entry.second);
    return out;
}

ProviderOverride::ProviderOverride(int rank, std::shared_ptr<Provider> provider)
    : rank_(rank), provider_(std::move(provider)) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.overrides.emplace_back(rank_, provider_);
}

ProviderOverride::~ProviderOverride() {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto& overrides = registry.overrides;
    auto mine = std::find_if(overrides.begin(), overrides.end(),
                             [&](const auto& entry) { return entry.first == rank_ && entry.second == provider_; });
    if (mine != overrides.end()) overrides.erase(mine);
}

}  // namespace hidtransport
