// Allocation with a ceiling, for the import fuzz target.
//
// The reader library believes the counts a file declares and asks for
// memory to match: a 300-byte file can ask for gigabytes. The tool reads
// files in a child whose memory is capped, where such a request fails with
// std::bad_alloc and the importer turns it into "out of memory"; here, in
// the fuzzer's own process, the sanitizer's allocator would end the run
// instead of failing the request. So every plain operator new of this
// program fails above kCeiling as it would under the cap, and lets the
// sanitizer's malloc serve the rest, which keeps its checks of every access
// (the aligned forms keep the sanitizer's own operators).

#include <cstdlib>
#include <new>

namespace {

// Well above any single array the test meshes or seeds need, well below the
// fuzzer's memory limit.
constexpr std::size_t kCeiling = std::size_t(256) << 20;

void* allocate(std::size_t n) noexcept
{
    if (n > kCeiling)
        return nullptr;
    return std::malloc(n == 0 ? 1 : n);
}

void* allocateOrThrow(std::size_t n)
{
    if (void* p = allocate(n))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t n) { return allocateOrThrow(n); }
void* operator new[](std::size_t n) { return allocateOrThrow(n); }
void* operator new(std::size_t n, std::nothrow_t const&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept { return allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { std::free(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { std::free(p); }
