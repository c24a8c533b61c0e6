#pragma once

// One int naming either a box or a triangle of a tree, for descents that keep
// pending pairs of them: a box by its rank (the root, rank 0, included), the
// triangle of rank t as -t - 1. A box's child codes (CtvxBoundingVolume: a
// code above 0 is a box, a code of 0 or less the triangle of rank -code)
// cannot serve as they are, since triangle 0 and the root would both be 0.
struct CtvxNodeRef {
    static int fromChildCode(int code) { return code > 0 ? code : code - 1; }
    static int ofTriangle(unsigned int rank) { return -static_cast<int>(rank) - 1; }
    static bool isBox(int ref) { return ref >= 0; }
    static unsigned int triangle(int ref) { return static_cast<unsigned int>(-(ref + 1)); }
};
