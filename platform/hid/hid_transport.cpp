#include "platform/hid/hid_transport.h"

#include <algorithm>
#include <mutex>

namespace hidtransport {
namespace {

struct Registry {
    std::mutex lock;
    std::vector<std::pair<int, std::shared_ptr<Provider>>> providers;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

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
    std::vector<std::shared_ptr<Provider>> out;
    for (auto& entry : registry.providers) out.push_back(entry.second);
    return out;
}

}  // namespace hidtransport
