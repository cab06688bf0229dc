#pragma once

// The threads under the batch loops and the mesh queries. parallel_for
// splits [0, count) into contiguous chunks that the calling thread and the
// pool's workers take in turn; each element is computed exactly as on one
// thread, so results keep their bits whatever the thread count. Nothing
// here touches Python, so it runs without the interpreter lock.

#include <cstddef>
#include <type_traits>

namespace pool {

using Index = std::ptrdiff_t;

// More threads than this are never started.
constexpr int kMostThreads = 1024;

// The usable cores: the affinity mask, else the hardware's count.
int usable_cores();

// The threads a call from the calling thread may use: its own override
// (orvane.arrays.threads) when it has one, else the process-wide count.
int threads();
// The process-wide count, 1 to kMostThreads.
void set_threads(int n);
// Sets the calling thread's override (0 for none) and returns the previous
// one; with only_if_unset, an override already there stays.
int set_local_threads(int n, bool only_if_unset);

using Body = void (*)(void* context, Index begin, Index end);

// body over [0, count) on up to `wanted` threads, the calling thread among
// them, in chunks of at most `chunk` elements; returns once every chunk is
// done. A call made while the pool serves another runs on the calling
// thread alone, so callers never wait on each other and nested calls cannot
// deadlock. Floating-point status flags raised
// on the workers are raised on the calling thread too, where NumPy looks.
void run(Index count, int wanted, Index chunk, Body body, void* context);

// One compiled copy of a chunk serves one thread and many alike: two
// inlined copies may order a sum's operands differently, which a NaN's sign
// and payload would show.
template <class F>
struct Chunk {
#if defined(__clang__)
    [[gnu::noinline]]
#else
    [[gnu::noinline, gnu::noclone]]
#endif
    static void
    call(void* f, Index begin, Index end) {
        (*static_cast<F*>(f))(begin, end);
    }
};

// f(begin, end) over [0, count): in chunks across the pool when every thread
// gets at least min_per_thread elements, else once on the calling thread.
template <class F>
void parallel_for(Index count, Index min_per_thread, F&& f) {
    using Fn = std::remove_reference_t<F>;
    void* context = const_cast<void*>(static_cast<const void*>(&f));
    if (count >= 2 * min_per_thread) {
        const Index most = count / min_per_thread;
        const int n = threads();
        const int wanted = most < n ? static_cast<int>(most) : n;
        if (wanted > 1) return run(count, wanted, min_per_thread, &Chunk<Fn>::call, context);
    }
    Chunk<Fn>::call(context, 0, count);
}

}  // namespace pool
