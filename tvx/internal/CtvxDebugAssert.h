#pragma once

// TVX_DEBUG_ASSERT(condition): checked in the sanitizer build (where CMake
// defines TVX_DEBUG_ASSERTS), compiled out everywhere else, so that it costs
// a release build nothing and cannot change an answer. It guards what the
// code assumes but does not test on the way: that a descent's pending steps
// stay within the bound its trees' depths give (so a step stack never grows
// past what was reserved) and that every step names a box or a triangle that
// exists. A failure prints the condition and its place and aborts, which the
// sanitizer run reports as the failing test.

#if defined(TVX_DEBUG_ASSERTS)
#include <cstdio>
#include <cstdlib>

#define TVX_DEBUG_ASSERT(condition)                                                                          \
    do {                                                                                                      \
        if (!(condition)) {                                                                                   \
            std::fprintf(stderr, "%s:%d: debug assertion failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                                     \
        }                                                                                                     \
    } while (false)
#else
#define TVX_DEBUG_ASSERT(condition) static_cast<void>(sizeof(!(condition)))
#endif
