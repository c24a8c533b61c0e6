#pragma once

// One export macro for the utility library; everything else stays hidden
// (the library is compiled with -fvisibility=hidden).
#if defined(__GNUC__) || defined(__clang__)
#define QAR_API __attribute__((visibility("default")))
#else
#define QAR_API
#endif
