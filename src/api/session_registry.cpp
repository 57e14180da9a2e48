#include "api/session_registry.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace zemuser {

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, SessionRef> live;
    std::uintptr_t next = 0x5E55;  // odd and non-zero: never a null handle
};

// Never destroyed: exports may run on host threads while the process exits.
Registry& TheRegistry() {
    static Registry* registry = new Registry();  // NOLINT(cppcoreguidelines-owning-memory)
    return *registry;
}

}  // namespace

TransferHandle RegisterSession(SessionRef session) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::uintptr_t id = registry.next;
    registry.next += 2;
    registry.live.emplace(id, std::move(session));
    return reinterpret_cast<TransferHandle>(id);
}

SessionRef FindSession(TransferHandle handle) {
    if (handle == nullptr) return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.live.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == registry.live.end() ? nullptr : found->second;
}

SessionRef RemoveSession(TransferHandle handle) {
    if (handle == nullptr) return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.live.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == registry.live.end()) return nullptr;
    SessionRef session = std::move(found->second);
    registry.live.erase(found);
    return session;
}

}  // namespace zemuser
