// Critical sections over a recursive mutex: a Windows critical section may be entered again by
// the thread that holds it.
#include <memory>
#include <mutex>

#include "platform/posix/kernel32.h"

namespace {

std::recursive_mutex* MutexOf(LPCRITICAL_SECTION section) {
    return section == nullptr ? nullptr : static_cast<std::recursive_mutex*>(section->impl);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    if (section == nullptr) return;
    section->impl = std::make_unique<std::recursive_mutex>().release();
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    // Held until LeaveCriticalSection, as the platform's critical sections are.
    // cppcheck-suppress localMutex
    if (auto* mutex = MutexOf(section)) mutex->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    if (auto* mutex = MutexOf(section)) mutex->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    if (section == nullptr) return;
    // Takes the mutex back into an owner that frees it.
    std::unique_ptr<std::recursive_mutex> owned(MutexOf(section));
    section->impl = nullptr;
}
