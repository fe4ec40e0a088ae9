// The Win32 threads, lock, condition and performance counter trawl uses,
// over POSIX threads.  A thread handle is a slot of a small fixed table,
// free again once the thread has ended and its handle is closed.
#include "win32.h"

#include <cerrno>
#include <ctime>
#include <sched.h>

namespace {

struct ThreadSlot {
    int used;
    int ended;
    int closed;
    pthread_t thread;
    LPTHREAD_START_ROUTINE start;
    void *parameter;
};

const int THREAD_SLOTS = 64;
ThreadSlot thread_slots[THREAD_SLOTS];
pthread_mutex_t slots_lock = PTHREAD_MUTEX_INITIALIZER;

void *run_thread(void *slot)
{
    ThreadSlot *thread = (ThreadSlot *)slot;
    DWORD result = thread->start(thread->parameter);
    pthread_mutex_lock(&slots_lock);
    thread->ended = 1;
    if (thread->closed) thread->used = 0;
    pthread_mutex_unlock(&slots_lock);
    return (void *)(uintptr_t)result;
}

ThreadSlot *slot_of(HANDLE handle)
{
    ThreadSlot *slot = (ThreadSlot *)handle;
    if (slot < thread_slots || slot >= thread_slots + THREAD_SLOTS || !slot->used) return nullptr;
    return slot;
}

}  // namespace

HANDLE CreateThread(void *, size_t stack_size, LPTHREAD_START_ROUTINE start, void *parameter,
                    DWORD, DWORD *)
{
    pthread_mutex_lock(&slots_lock);
    ThreadSlot *slot = nullptr;
    for (int i = 0; i < THREAD_SLOTS && slot == nullptr; i++)
        if (!thread_slots[i].used) slot = &thread_slots[i];
    if (slot != nullptr) {
        slot->used = 1;
        slot->ended = slot->closed = 0;
    }
    pthread_mutex_unlock(&slots_lock);
    if (slot == nullptr) {
        errno = EAGAIN;
        return nullptr;
    }
    slot->start = start;
    slot->parameter = parameter;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stack_size) pthread_attr_setstacksize(&attributes, stack_size);
    int error = pthread_create(&slot->thread, &attributes, run_thread, slot);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        pthread_mutex_lock(&slots_lock);
        slot->used = 0;
        pthread_mutex_unlock(&slots_lock);
        errno = error;
        return nullptr;
    }
    return (HANDLE)slot;
}

BOOL CloseHandle(HANDLE handle)
{
    ThreadSlot *slot = slot_of(handle);
    if (slot == nullptr) return FALSE;
    pthread_detach(slot->thread);
    pthread_mutex_lock(&slots_lock);
    slot->closed = 1;
    if (slot->ended) slot->used = 0;
    pthread_mutex_unlock(&slots_lock);
    return TRUE;
}

void AcquireSRWLockExclusive(SRWLOCK *lock)
{
    pthread_mutex_lock(&lock->mutex);
}

void ReleaseSRWLockExclusive(SRWLOCK *lock)
{
    pthread_mutex_unlock(&lock->mutex);
}

BOOL SleepConditionVariableSRW(CONDITION_VARIABLE *condition, SRWLOCK *lock, DWORD, DWORD)
{
    return pthread_cond_wait(&condition->condition, &lock->mutex) == 0;
}

void WakeAllConditionVariable(CONDITION_VARIABLE *condition)
{
    pthread_cond_broadcast(&condition->condition);
}

BOOL QueryPerformanceCounter(LARGE_INTEGER *count)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER *frequency)
{
    frequency->QuadPart = 1000000000;
    return TRUE;
}

DWORD GetCurrentProcessorNumber()
{
    int cpu = sched_getcpu();
    return cpu < 0 ? 0 : (DWORD)cpu;
}
