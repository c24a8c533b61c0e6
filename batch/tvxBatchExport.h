#pragma once

// The export macro of the batch library; like the core library it is
// compiled with -fvisibility=hidden, so only what carries TVXBATCH_API is
// part of its ABI.
#if defined(__GNUC__) || defined(__clang__)
#define TVXBATCH_API __attribute__((visibility("default")))
#else
#define TVXBATCH_API
#endif
