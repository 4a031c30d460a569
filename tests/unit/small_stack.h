// Runs a job on a thread with a small stack, as deep recursion would overflow it (a JVM thread
// has 1 MiB by default).
#pragma once

#include <pthread.h>

#include <functional>

inline void onSmallStack(size_t stackBytes, const std::function<void()>& job) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_t thread;
    pthread_create(&thread, &attr, [](void* j) -> void* {
        (*static_cast<const std::function<void()>*>(j))();
        return nullptr;
    }, const_cast<std::function<void()>*>(&job));
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}
