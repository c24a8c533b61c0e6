#include <tvx/bvtree/CtvxTrianglesBoundingVolume.h>

static_assert(sizeof(CtvxTrianglesBoundingVolume) == sizeof(CtvxBoundingVolume),
              "triangle accessors add no storage");
