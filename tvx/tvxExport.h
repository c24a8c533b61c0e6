#pragma once

// One export macro for the library; the library is compiled with
// -fvisibility=hidden, so only what carries TVX_API is part of its ABI.
#if defined(__GNUC__) || defined(__clang__)
#define TVX_API __attribute__((visibility("default")))
#else
#define TVX_API
#endif
