#include "sync/Mutex.h"

#include <windows.h>

#include <atomic>
#include <new>

// A critical section is recursive, but leaving one the thread does not own is undefined, so the
// owner and its depth are kept here to refuse such an Unlock.
struct PlatformMutex {
    CRITICAL_SECTION section;
    // 0 while nobody owns it; Windows gives no thread the id 0.
    std::atomic<DWORD> owner{0};
    unsigned depth = 0;
};

Mutex::Mutex(const char*) : handle(new (std::nothrow) PlatformMutex) {
    if (handle != nullptr) {
        InitializeCriticalSection(&handle->section);
    }
}

Mutex::~Mutex() {
    if (handle != nullptr) {
        DeleteCriticalSection(&handle->section);
        delete handle;
    }
}

int Mutex::Lock() {
    if (handle == nullptr) {
        return 1;
    }
    EnterCriticalSection(&handle->section);
    handle->owner.store(GetCurrentThreadId());
    ++handle->depth;
    return 0;
}

int Mutex::Unlock() {
    if (handle == nullptr || handle->owner.load() != GetCurrentThreadId()) {
        return 1;
    }
    if (--handle->depth == 0) {
        handle->owner.store(0);
    }
    LeaveCriticalSection(&handle->section);
    return 0;
}

bool Mutex::IsLocked() {
    if (handle == nullptr) {
        return false;
    }
    // The owner's own try succeeds because a critical section is recursive; only another
    // thread's ownership makes it fail.
    if (TryEnterCriticalSection(&handle->section)) {
        LeaveCriticalSection(&handle->section);
        return false;
    }
    return true;
}
