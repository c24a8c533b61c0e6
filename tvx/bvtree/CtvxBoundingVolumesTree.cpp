#include <tvx/bvtree/CtvxBoundingVolumesTree.h>

// Nothing but the interface; the translation unit keeps the one class per
// file pair layout.
