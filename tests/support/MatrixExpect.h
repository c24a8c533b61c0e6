#pragma once

#include <qar/CqarMat4.h>

#include <gtest/gtest.h>

namespace tvxtest {

// Every element of a within tol of b's; a failure names the element.
inline void expectMatNear(CqarMat4 const& a, CqarMat4 const& b, double tol)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(a(r, c), b(r, c), tol) << "element " << r << "," << c;
}

} // namespace tvxtest
