// Audio-thread safety: this test program replaces the C library's allocator
// entry points with counting ones, and counts every allocation and release
// made on the calling thread from the start of a host call until it returns.
// effProcessEvents, processReplacing, setParameter and getParameter must show
// none, with events applied and automation reported.
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "abi/abi_fixture.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {
thread_local bool counting = false;
std::atomic<long> allocations{0}, releases{0};

void noteAllocation() {
    if (counting) allocations.fetch_add(1, std::memory_order_relaxed);
}
void noteRelease(void* p) {
    if (counting && p != nullptr) releases.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

// The program's allocator: counts, then hands over to the C library's own.
extern "C" void* malloc(size_t n) {
    noteAllocation();
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m) {
    noteAllocation();
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n) {
    noteAllocation();
    return __libc_realloc(p, n);
}
extern "C" void free(void* p) {
    noteRelease(p);
    __libc_free(p);
}
extern "C" void* memalign(size_t a, size_t n) {
    noteAllocation();
    return __libc_memalign(a, n);
}
extern "C" void* aligned_alloc(size_t a, size_t n) {
    noteAllocation();
    return __libc_memalign(a, n);
}
extern "C" int posix_memalign(void** p, size_t a, size_t n) {
    noteAllocation();
    *p = __libc_memalign(a, n);
    return *p != nullptr ? 0 : ENOMEM;
}
// operator new and delete of this program end in malloc and free above; the
// module's own end in the C library's malloc and free, which resolve here too.

namespace {

using abitest::Abi;

struct Counted {
    Counted() {
        allocations.store(0);
        releases.store(0);
        counting = true;
    }
    ~Counted() { counting = false; }
};

TEST(AllocationCounter, SeesAllocationsOnThisThread) {
    long seen;
    {
        Counted c;
        void* p = std::malloc(16);
        int* q = new int(3);
        asm volatile("" : : "r"(p), "r"(q) : "memory");  // keep the compiler from eliding the pair
        delete q;
        std::free(p);
        seen = allocations.load() + releases.load();
    }
    EXPECT_EQ(seen, 4) << "the counter must see malloc, free, new and delete";
}

TEST_F(Abi, NoAllocationOnTheAudioThread) {
    plugin->start(48000.0f, 256);
    vsthost::AudioBuffers in(32, 256, 0.25f), out(38, 256);
    std::vector<vsthost::EventList> lists(16);
    for (size_t b = 0; b < lists.size(); ++b)
        for (int e = 0; e < 300; ++e)  // past the queue's bound, mapped and unmapped controllers
            lists[b].controlChange(e, static_cast<uint8_t>(e % 16), static_cast<uint8_t>((e * 7 + b) % 128),
                                   static_cast<uint8_t>(e % 128));
    std::vector<VstEvents*> prepared;
    for (auto& l : lists) prepared.push_back(l.get());  // the host's lists exist before the block starts
    host.clearCalls();

    long calls = 0, total = 0;
    for (size_t b = 0; b < prepared.size(); ++b) {
        {
            Counted c;
            fx->dispatcher(fx, effProcessEvents, 0, 0, prepared[b], 0.0f);
            fx->processReplacing(fx, in.pointers(), out.pointers(), 256);
            fx->processReplacing(fx, in.pointers(), out.pointers(), 31);
            for (int index = 0; index < 68; ++index) {
                fx->setParameter(fx, index, fx->getParameter(fx, index));
                calls += 2;
            }
            total += allocations.load() + releases.load();
        }
        calls += 3;
    }
    EXPECT_EQ(total, 0) << "allocations or releases on the audio thread";
    EXPECT_GT(host.callsWith(audioMasterAutomate).size(), 1000u) << "automation flowed meanwhile";
    std::printf("figure: audio-thread calls with zero allocations = %ld\n", calls);
}

}  // namespace
