#pragma once

// tvxPrefetch(address): asks the memory system for the cache line holding
// `address` ahead of a read that will follow. A hint only: it reads nothing
// the program sees, cannot fault on any address, and so cannot change an
// answer; compilers without the builtin get nothing. The walks use it for
// what a large tree scatters beyond the second-level cache: the records of
// the boxes a pending pair will split, and the vertices of its triangles.

#if defined(__GNUC__) || defined(__clang__)
inline void tvxPrefetch(void const* address)
{
    __builtin_prefetch(address, 0, 3);
}
#else
inline void tvxPrefetch(void const*) {}
#endif
