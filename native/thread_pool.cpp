#include "thread_pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace pool {

namespace {

// One parallel_for call, on the calling thread's stack.
struct Job {
    Body body;
    void* context;
    Index count, chunk, chunks;
    std::atomic<Index> next{0};
    // The status flags the workers raised.
    std::atomic<int> flags{0};
    // The caller's rounding and flush modes, which the workers take on.
    std::fenv_t env;
    // Workers that may join, and those that did (under the pool's mutex).
    int seats = 0, joined = 0;
    // The first exception a chunk threw (under the pool's mutex), for the
    // caller to rethrow once no thread touches the job.
    std::exception_ptr error;
};

struct Pool {
    std::mutex mutex;
    std::condition_variable work, done;
    Job* job = nullptr;
    unsigned long generation = 0;
    // Workers between joining the job and leaving it.
    int inside = 0;
    int workers = 0;
    bool busy = false;
};

// Never destroyed: the workers are detached and may outlive static
// destruction at exit. A forked child drops its parent's pool, whose threads
// it does not have and whose mutex another thread may have held at fork time,
// and starts its own at its first parallel call.
std::atomic<Pool*> the_pool{nullptr};
std::atomic<int> process_threads{0};
thread_local int local_threads = 0;

void forget_pool_in_child() { the_pool.store(nullptr, std::memory_order_relaxed); }

Pool* get_pool() {
    Pool* p = the_pool.load(std::memory_order_acquire);
    if (p != nullptr) return p;
    static const int registered = pthread_atfork(nullptr, nullptr, &forget_pool_in_child);
    (void)registered;
    Pool* made = new Pool;
    if (the_pool.compare_exchange_strong(p, made, std::memory_order_acq_rel)) return made;
    delete made;
    return p;
}

constexpr int kFlags = FE_ALL_EXCEPT & ~FE_INEXACT;

void take_chunks(Job& job, std::mutex& mutex) {
    try {
        for (;;) {
            const Index c = job.next.fetch_add(1, std::memory_order_relaxed);
            if (c >= job.chunks) return;
            const Index begin = c * job.chunk;
            job.body(job.context, begin, std::min(job.count, begin + job.chunk));
        }
    } catch (...) {
        job.next.store(job.chunks, std::memory_order_relaxed);  // the others stop too
        const std::lock_guard<std::mutex> lock(mutex);
        if (!job.error) job.error = std::current_exception();
    }
}

void work(Pool* p) {
    unsigned long seen = 0;
    std::unique_lock<std::mutex> lock(p->mutex);
    for (;;) {
        p->work.wait(lock, [&] {
            return p->job != nullptr && p->generation != seen && p->job->joined < p->job->seats;
        });
        Job& job = *p->job;
        seen = p->generation;
        ++job.joined;
        ++p->inside;
        lock.unlock();
        std::fesetenv(&job.env);
        std::feclearexcept(FE_ALL_EXCEPT);
        take_chunks(job, p->mutex);
        if (const int raised = std::fetestexcept(kFlags)) job.flags.fetch_or(raised);
        lock.lock();
        if (--p->inside == 0 && p->job == nullptr) p->done.notify_one();
    }
}

}  // namespace

int usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    int n = 0;
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(n, 1, kMostThreads);
}

int threads() {
    if (local_threads > 0) return local_threads;
    const int n = process_threads.load(std::memory_order_relaxed);
    return n > 0 ? n : usable_cores();
}

void set_threads(int n) { process_threads.store(std::clamp(n, 1, kMostThreads)); }

int set_local_threads(int n, bool only_if_unset) {
    const int previous = local_threads;
    if (!(only_if_unset && previous > 0)) local_threads = std::clamp(n, 0, kMostThreads);
    return previous;
}

void run(Index count, int wanted, Index chunk, Body body, void* context) {
    Pool* p = get_pool();
    std::unique_lock<std::mutex> lock(p->mutex);
    while (!p->busy && p->workers < wanted - 1) {
        try {
            std::thread(work, p).detach();
        } catch (...) {
            break;  // no more threads to be had: the ones there are do the work
        }
        ++p->workers;
    }
    if (p->busy || p->workers == 0) {
        lock.unlock();
        body(context, 0, count);
        return;
    }
    Job job;
    job.body = body;
    job.context = context;
    job.count = count;
    // At least 4 chunks a thread, and none much longer than a thread's least
    // share: on a loaded machine a worker may stop mid-chunk, and the caller
    // then waits for that chunk alone. Whole cache lines of every operand
    // go to one thread.
    chunk = std::min(chunk, (count + Index(wanted) * 4 - 1) / (Index(wanted) * 4));
    job.chunk = (std::max<Index>(chunk, 1) + 15) / 16 * 16;
    job.chunks = (count + job.chunk - 1) / job.chunk;
    job.seats = std::min(wanted - 1, p->workers);
    std::fegetenv(&job.env);
    p->busy = true;
    p->job = &job;
    ++p->generation;
    const bool everyone = job.seats == p->workers;
    lock.unlock();
    if (everyone) {
        p->work.notify_all();
    } else {
        for (int k = 0; k < job.seats; ++k) p->work.notify_one();
    }
    take_chunks(job, p->mutex);
    lock.lock();
    // Late workers find no job; the caller waits only for those inside it.
    p->job = nullptr;
    p->done.wait(lock, [&] { return p->inside == 0; });
    p->busy = false;
    lock.unlock();
    if (job.error) std::rethrow_exception(job.error);
    if (const int raised = job.flags.load(std::memory_order_relaxed)) std::feraiseexcept(raised);
}

}  // namespace pool
