#include <tvx/bvtree/CtvxBoundingVolume.h>

// Everything is inline; the record has no behaviour beyond its two codes.
static_assert(sizeof(CtvxBoundingVolume) == 8, "two 32-bit child codes");
