#pragma once

#include <fcl/fcl.h>

// A rigid placement in double precision, any record with a rotation r[3][3]
// and a translation t[3] (p -> r p + t), as FCL's transform, for the
// programs that run FCL beside the library on the same placements.
template <class Rigid>
fcl::Transform3d toFcl(Rigid const& p)
{
    fcl::Transform3d t = fcl::Transform3d::Identity();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            t.matrix()(i, j) = p.r[i][j];
        t.matrix()(i, 3) = p.t[i];
    }
    return t;
}
