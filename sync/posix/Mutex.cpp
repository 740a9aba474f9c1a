#include "sync/Mutex.h"

#include <pthread.h>

#include <cerrno>
#include <new>

struct PlatformMutex {
    pthread_mutex_t mutex;
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
    return handle != nullptr && pthread_mutex_lock(&handle->mutex) == 0 ? 0 : 1;
}

// A recursive mutex reports an unlock by a thread that does not own it (EPERM).
int Mutex::Unlock() {
    return handle != nullptr && pthread_mutex_unlock(&handle->mutex) == 0 ? 0 : 1;
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
