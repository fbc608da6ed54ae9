// Counts the allocations of the test program, so that a test can check that a loop does
// not allocate on every pass.
#include <atomic>
#include <cstdlib>
#include <new>

namespace qvtest {

namespace {
std::atomic<long> gAllocations{0};
}

long AllocationCount() { return gAllocations.load(); }

}  // namespace qvtest

void* operator new(std::size_t size) {
    ++qvtest::gAllocations;
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
