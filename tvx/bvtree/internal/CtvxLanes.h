#pragma once

// The lanes the passes of the tree build are written against: Float4 (four
// floats), Double2 (two doubles) and Mask4 (a four-lane condition), with
// their arithmetic, comparisons and selects, in namespace tvx_lanes. On SSE2
// targets they are registers (CtvxLanesSse.h); elsewhere, or when the build
// is configured with TVX_SIMD off (which defines TVX_NO_SIMD), they are
// plain arrays (CtvxLanesScalar.h) computing the same floats. A pass is
// written once, and the build without SIMD checks in CI that both give the
// same trees.

#if defined(__SSE2__) && !defined(TVX_NO_SIMD)
#include <tvx/bvtree/internal/CtvxLanesSse.h>
namespace tvx_lanes = tvx_sse;
#else
#include <tvx/bvtree/internal/CtvxLanesScalar.h>
namespace tvx_lanes = tvx_scalar;
#endif
