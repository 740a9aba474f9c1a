#include "sync/Mutex.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <new>

// The owner and its depth are kept here, so that an Unlock by a thread that does not own the
// mutex is refused before it reaches the platform.
struct PlatformMutex {
    pthread_mutex_t mutex;
    std::atomic<pthread_t> owner{};
    std::atomic<bool> owned{false};
    unsigned depth = 0;
};

Mutex::Mutex(const char*) : handle(new (std::nothrow) PlatformMutex) {
    if (handle == nullptr) {
        return;
    }
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    if (pthread_mutex_init(&handle->mutex, &attributes) != 0) {
        delete handle;
        handle = nullptr;
    }
    pthread_mutexattr_destroy(&attributes);
}

Mutex::~Mutex() {
    if (handle != nullptr) {
        pthread_mutex_destroy(&handle->mutex);
        delete handle;
    }
}

int Mutex::Lock() {
    if (handle == nullptr || pthread_mutex_lock(&handle->mutex) != 0) {
        return 1;
    }
    handle->owner.store(pthread_self());
    handle->owned.store(true);
    ++handle->depth;
    return 0;
}

int Mutex::Unlock() {
    if (handle == nullptr || !handle->owned.load() ||
        !pthread_equal(handle->owner.load(), pthread_self())) {
        return 1;
    }
    if (--handle->depth == 0) {
        handle->owned.store(false);
    }
    return pthread_mutex_unlock(&handle->mutex) == 0 ? 0 : 1;
}

bool Mutex::IsLocked() {
    if (handle == nullptr) {
        return false;
    }
    // The owner's own try succeeds because the mutex is recursive; only another thread's
    // ownership makes it report busy.
    const int result = pthread_mutex_trylock(&handle->mutex);
    if (result == 0) {
        pthread_mutex_unlock(&handle->mutex);
    }
    return result == EBUSY;
}
