#include "RealtimeGuard.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>

#if defined(ZELVO_SANITIZED)
// The sanitizer runtime's allocation hooks (declared here: GCC ships no header).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace {

constinit thread_local int tAudioDepth = 0;
// The largest-allocation watch of the current thread, when one is alive.
constinit thread_local std::size_t* tLargest = nullptr;
// The large-allocation hook of the current thread, when one is alive.
constinit thread_local zelvo::test::LargeAllocationHook* tHook = nullptr;

std::atomic<std::int64_t> gAllocations{0};
std::atomic<std::int64_t> gFrees{0};
std::atomic<std::int64_t> gLocks{0};
std::atomic<std::int64_t> gWakes{0};

} // namespace

// Called for every counted call; a breakpoint here shows the culprit's stack.
extern "C" __attribute__((noinline, used)) void zelvo_realtime_violation(int kind)
{
    asm volatile("" ::"r"(kind) : "memory");
}

namespace {

inline void countAllocation(std::size_t size)
{
    if (tLargest && size > *tLargest)
        *tLargest = size;
    if (zelvo::test::LargeAllocationHook* hook = tHook; hook && size >= hook->bytes) {
        tHook = nullptr; // what the action allocates is not counted
        if (hook->seen++ == 0)
            hook->action(hook->context);
        tHook = hook;
    }
    if (tAudioDepth > 0) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
        zelvo_realtime_violation(0);
    }
}

inline void countFree(const volatile void* p)
{
    if (p && tAudioDepth > 0) {
        gFrees.fetch_add(1, std::memory_order_relaxed);
        zelvo_realtime_violation(1);
    }
}

inline void countLock()
{
    if (tAudioDepth > 0) {
        gLocks.fetch_add(1, std::memory_order_relaxed);
        zelvo_realtime_violation(2);
    }
}

inline void countWake()
{
    if (tAudioDepth > 0) {
        gWakes.fetch_add(1, std::memory_order_relaxed);
        zelvo_realtime_violation(3);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Allocation counting. Under the sanitizers their allocator owns malloc, so its
// hooks are used; otherwise the allocation functions are defined here, in the
// executable, which the dynamic linker resolves first for every library, and
// forwarded to the C library's own entry points.

#if defined(ZELVO_SANITIZED)

namespace {

void mallocHook(const volatile void*, std::size_t size) { countAllocation(size); }
void freeHook(const volatile void* p) { countFree(p); }

__attribute__((constructor)) void installHooks()
{
    __sanitizer_install_malloc_and_free_hooks(&mallocHook, &freeHook);
}

} // namespace

#else

extern "C" {
void* __libc_malloc(std::size_t);
void __libc_free(void*);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void* __libc_valloc(std::size_t);
void* __libc_pvalloc(std::size_t);

void* malloc(std::size_t size)
{
    countAllocation(size);
    return __libc_malloc(size);
}

void free(void* p)
{
    countFree(p);
    __libc_free(p);
}

void* calloc(std::size_t count, std::size_t size)
{
    countAllocation(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* p, std::size_t size)
{
    countAllocation(size);
    return __libc_realloc(p, size);
}

void* memalign(std::size_t alignment, std::size_t size)
{
    countAllocation(size);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    countAllocation(size);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size)
{
    countAllocation(size);
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return 22; // EINVAL
    void* p = __libc_memalign(alignment, size);
    if (!p && size != 0)
        return 12; // ENOMEM
    *out = p;
    return 0;
}

void* valloc(std::size_t size)
{
    countAllocation(size);
    return __libc_valloc(size);
}

void* pvalloc(std::size_t size)
{
    countAllocation(size);
    return __libc_pvalloc(size);
}
}

#endif

// ---------------------------------------------------------------------------
// Lock counting: the pthread lock entry points, defined here and forwarded to the
// next definition in lookup order (the C library, or a sanitizer's interceptor).

namespace {

template <typename Fn>
Fn nextSymbol(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

using MutexFn = int (*)(pthread_mutex_t*);
using MutexTimedFn = int (*)(pthread_mutex_t*, const struct timespec*);
using RwFn = int (*)(pthread_rwlock_t*);
using SpinFn = int (*)(pthread_spinlock_t*);
using SemFn = int (*)(sem_t*);
using CondFn = int (*)(pthread_cond_t*);

struct RealLocks {
    MutexFn mutexLock = nullptr;
    MutexFn mutexTrylock = nullptr;
    MutexTimedFn mutexTimedlock = nullptr;
    RwFn rdlock = nullptr;
    RwFn wrlock = nullptr;
    SpinFn spinLock = nullptr;
    SemFn semPost = nullptr;
    CondFn condSignal = nullptr;
    CondFn condBroadcast = nullptr;
};

RealLocks gReal;

void resolveLocks()
{
    gReal.mutexLock = nextSymbol<MutexFn>("pthread_mutex_lock");
    gReal.mutexTrylock = nextSymbol<MutexFn>("pthread_mutex_trylock");
    gReal.mutexTimedlock = nextSymbol<MutexTimedFn>("pthread_mutex_timedlock");
    gReal.rdlock = nextSymbol<RwFn>("pthread_rwlock_rdlock");
    gReal.wrlock = nextSymbol<RwFn>("pthread_rwlock_wrlock");
    gReal.spinLock = nextSymbol<SpinFn>("pthread_spin_lock");
    gReal.semPost = nextSymbol<SemFn>("sem_post");
    // The versions the C++ runtime binds to, not the compatibility ones.
    gReal.condSignal = reinterpret_cast<CondFn>(dlvsym(RTLD_NEXT, "pthread_cond_signal", "GLIBC_2.3.2"));
    gReal.condBroadcast = reinterpret_cast<CondFn>(dlvsym(RTLD_NEXT, "pthread_cond_broadcast", "GLIBC_2.3.2"));
    if (!gReal.condSignal)
        gReal.condSignal = nextSymbol<CondFn>("pthread_cond_signal");
    if (!gReal.condBroadcast)
        gReal.condBroadcast = nextSymbol<CondFn>("pthread_cond_broadcast");
}

__attribute__((constructor(101))) void resolveEarly() { resolveLocks(); }

template <typename Fn>
Fn real(Fn RealLocks::*member)
{
    if (!(gReal.*member))
        resolveLocks();
    return gReal.*member;
}

} // namespace

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* m)
{
    countLock();
    return real(&RealLocks::mutexLock)(m);
}

int pthread_mutex_trylock(pthread_mutex_t* m)
{
    countLock();
    return real(&RealLocks::mutexTrylock)(m);
}

int pthread_mutex_timedlock(pthread_mutex_t* m, const struct timespec* t)
{
    countLock();
    return real(&RealLocks::mutexTimedlock)(m, t);
}

int pthread_rwlock_rdlock(pthread_rwlock_t* l)
{
    countLock();
    return real(&RealLocks::rdlock)(l);
}

int pthread_rwlock_wrlock(pthread_rwlock_t* l)
{
    countLock();
    return real(&RealLocks::wrlock)(l);
}

int pthread_spin_lock(pthread_spinlock_t* l)
{
    countLock();
    return real(&RealLocks::spinLock)(l);
}

int sem_post(sem_t* s)
{
    countWake();
    return real(&RealLocks::semPost)(s);
}

int pthread_cond_signal(pthread_cond_t* c)
{
    countWake();
    return real(&RealLocks::condSignal)(c);
}

int pthread_cond_broadcast(pthread_cond_t* c)
{
    countWake();
    return real(&RealLocks::condBroadcast)(c);
}
}

// ---------------------------------------------------------------------------

namespace zelvo::test {

AudioThreadScope::AudioThreadScope() { ++tAudioDepth; }
AudioThreadScope::~AudioThreadScope() { --tAudioDepth; }

bool onAudioThread() { return tAudioDepth > 0; }

LargeAllocationHook::LargeAllocationHook(std::size_t bytes, void (*action)(void*), void* context)
    : bytes(bytes), action(action), context(context)
{
    tHook = this;
}
LargeAllocationHook::~LargeAllocationHook() { tHook = nullptr; }

LargestAllocationScope::LargestAllocationScope() : outer_(tLargest) { tLargest = &largest_; }
LargestAllocationScope::~LargestAllocationScope()
{
    tLargest = outer_;
    if (outer_ && largest_ > *outer_)
        *outer_ = largest_;
}

RealtimeCounts realtimeTotals()
{
    RealtimeCounts c;
    c.allocations = gAllocations.load(std::memory_order_relaxed);
    c.frees = gFrees.load(std::memory_order_relaxed);
    c.locks = gLocks.load(std::memory_order_relaxed);
    c.wakes = gWakes.load(std::memory_order_relaxed);
    return c;
}

RealtimeProbe::RealtimeProbe() : start_(realtimeTotals()) {}

RealtimeCounts RealtimeProbe::counts() const
{
    const RealtimeCounts now = realtimeTotals();
    return {now.allocations - start_.allocations, now.frees - start_.frees, now.locks - start_.locks,
            now.wakes - start_.wakes};
}

::testing::AssertionResult RealtimeProbe::clean() const
{
    const RealtimeCounts c = counts();
    if (c.total() == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "on the audio thread: " << c.allocations << " allocation(s), " << c.frees
                                         << " free(s), " << c.locks << " lock(s)";
}

} // namespace zelvo::test
