#pragma once

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <pthread.h>
#else
#include <mutex>
#endif

// A mutex shared by the output thread and ordinary threads. The output thread
// runs at real-time priority where the system grants it; if it had to wait on
// a plain mutex held by a thread a busy machine has set aside, the sound would
// stop. Where the system offers it, the holder inherits the waiter's priority
// until it lets go. Lockable, so std::unique_lock and
// std::condition_variable_any take it.
class RealtimeMutex
{
public:
#ifdef Q_OS_LINUX
    RealtimeMutex()
    {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
        pthread_mutex_init(&m_mutex, &attributes);
        pthread_mutexattr_destroy(&attributes);
    }
    ~RealtimeMutex() { pthread_mutex_destroy(&m_mutex); }
    void lock() { pthread_mutex_lock(&m_mutex); }
    void unlock() { pthread_mutex_unlock(&m_mutex); }
    bool try_lock() { return pthread_mutex_trylock(&m_mutex) == 0; }
#else
    RealtimeMutex() = default;
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    bool try_lock() { return m_mutex.try_lock(); }
#endif
    RealtimeMutex(const RealtimeMutex &) = delete;
    RealtimeMutex &operator=(const RealtimeMutex &) = delete;

private:
#ifdef Q_OS_LINUX
    pthread_mutex_t m_mutex;
#else
    std::mutex m_mutex;
#endif
};
