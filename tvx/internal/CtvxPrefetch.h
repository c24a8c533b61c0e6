#pragma once

// tvxPrefetch(address): asks the memory system for the cache line holding
// `address` ahead of a read that will follow. A hint only: it reads nothing
// the program sees, cannot fault on any address, and so cannot change an
// answer; compilers without the builtin get nothing. The walks use it for
// what a large tree scatters beyond the second-level cache: the records of
// the boxes a pending pair will split, and the vertices of its triangles.
//
// TVX_PREFETCH_INLINE marks every function on the way to the builtin: GCC
// takes a function whose only effect is a prefetch for one without effects,
// and where it leaves such a function out of line (a part split off a
// helper) it drops the calls, and the prefetches with them.

#if defined(__GNUC__) || defined(__clang__)
#define TVX_PREFETCH_INLINE inline __attribute__((always_inline))
TVX_PREFETCH_INLINE void tvxPrefetch(void const* address)
{
    __builtin_prefetch(address, 0, 3);
}
#else
#define TVX_PREFETCH_INLINE inline
inline void tvxPrefetch(void const*) {}
#endif
