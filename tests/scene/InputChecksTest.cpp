// Values refused where they enter the scene: tolerances, placements, scale
// factors and geometry transforms. A refused value is logged, the call
// answers -1 where it answers at all, and the object keeps its state, so
// that no query ever sees it. Rigid placements are told apart at the edge of
// the accepted deviation, which the test computes from R^T R on its own.
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>
#include <tests/support/SceneProbes.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>

#include <qar/CqarLogManager.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace tvxtest;

double const nan = std::numeric_limits<double>::quiet_NaN();
double const inf = std::numeric_limits<double>::infinity();

bool sameMatrix(CqarMat4 const& a, CqarMat4 const& b)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (!(a(r, c) == b(r, c)))
                return false;
    return true;
}

// The worst entry of |R^T R - I| of m's rotation part.
double gramDeviation(CqarMat4 const& m)
{
    double worst = 0.0;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b)
            worst = std::max(worst, std::fabs(m(0, a) * m(0, b) + m(1, a) * m(1, b) + m(2, a) * m(2, b) -
                                              (a == b ? 1.0 : 0.0)));
    return worst;
}

CqarMat4 withElement(CqarMat4 m, int r, int c, double v)
{
    m(r, c) = v;
    return m;
}

TEST(InputChecks, PlacementsAreRigidOrRefused)
{
    CqarMat4 const turn = toQar(Affine::rotation(1, 2, 3, 0.7) * Affine::translation(1, -2, 3));
    struct Case {
        std::string what;
        CqarMat4 m;
        bool rigid;
        bool edge = false; // just inside or just outside 1e-6 of R^T R
        char const* reason = nullptr; // in the refusal's message
    };
    std::vector<Case> cases = {
        {"a turn", turn, true},
        {"scale 1 + 4.9e-7", withElement(withElement(withElement(CqarMat4(), 0, 0, 1 + 4.9e-7), 1, 1, 1 + 4.9e-7),
                                         2, 2, 1 + 4.9e-7), true, true},
        {"scale 1 + 5.1e-7", withElement(CqarMat4(), 1, 1, 1 + 5.1e-7), false, true, "orthonormal"},
        {"shear 0.9e-6", withElement(CqarMat4(), 0, 1, 0.9e-6), true, true},
        {"shear 1.1e-6", withElement(CqarMat4(), 0, 1, 1.1e-6), false, true, "orthonormal"},
        {"scale 3", withElement(withElement(withElement(CqarMat4(), 0, 0, 3), 1, 1, 3), 2, 2, 3), false, false,
         "orthonormal"},
        {"mirror", withElement(CqarMat4(), 2, 2, -1), false, false, "mirrors"},
        {"translation 1e30", withElement(turn, 2, 3, -1e30), true},
        {"translation 1.000001e30", withElement(turn, 2, 3, -1.000001e30), false, false, "beyond 1e30"},
        {"bottom row", withElement(CqarMat4(), 3, 0, 1e-9), false, false, "bottom row"},
    };
    // An element that is not finite, anywhere, is refused as such (before
    // anything it would also break).
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            for (double const v : {nan, inf, -inf})
                cases.push_back({"element (" + std::to_string(r) + ", " + std::to_string(c) + ") " +
                                     std::to_string(v),
                                 withElement(turn, r, c, v), false, false, "not finite"});
    boost::shared_ptr<CtvxAssembly> parent = CtvxAssembly::create();
    parent->absolutePosition(toQar(Affine::translation(5, 0, 0)));
    for (Case const& k : cases) {
        SCOPED_TRACE(k.what);
        if (k.edge) {
            EXPECT_EQ(k.rigid, gramDeviation(k.m) <= 1e-6);
        }
        for (bool const absolute : {false, true}) {
            boost::shared_ptr<CtvxPolyhedron> p = makeBoxEntity(0.5, 0.5, 0.5, 0, 1, 0);
            parent->attach(p, -1);
            CqarMat4 before;
            p->getRelativePosition(before);
            CqarLogManager::clear();
            int const status = absolute ? p->absolutePosition(k.m) : p->relativePosition(k.m);
            EXPECT_EQ(k.rigid ? 0 : -1, status);
            std::vector<std::string> const messages = CqarLogManager::messages();
            ASSERT_EQ(k.rigid ? 0u : 1u, messages.size());
            if (!k.rigid) {
                EXPECT_NE(messages[0].find(k.reason), std::string::npos) << messages[0];
                CqarMat4 after;
                p->getRelativePosition(after);
                EXPECT_TRUE(sameMatrix(before, after));
            }
        }
    }
}

TEST(InputChecks, BadTolerancesAreRefusedAndAnswersKept)
{
    // Two unit boxes 2 apart: a tolerance of -5 used to turn the clearance
    // into 7.
    boost::shared_ptr<CtvxPolyhedron> a = makeBoxEntity(0.5, 0.5, 0.5);
    boost::shared_ptr<CtvxPolyhedron> b = makeBoxEntity(0.5, 0.5, 0.5, 3, 0, 0);
    boost::shared_ptr<CtvxAssembly> holder = CtvxAssembly::create();
    holder->attach(b, -1);
    a->setTolerance(0.25);
    for (double const t : {-5.0, -1e-300, nan, inf, -inf, 1e39}) {
        CqarLogManager::clear();
        a->setTolerance(t);
        holder->setTolerance(t);
        EXPECT_EQ(2u, CqarLogManager::messages().size()) << t;
    }
    EXPECT_EQ(0.25, a->tolerance());
    EXPECT_EQ(0.0, b->tolerance());
    boost::shared_ptr<CtvxAnalysis> q = analysisOf(listOf({a}), listOf({holder}), CtvxAnalysis::EXACT_DISTANCE);
    q->compute();
    ASSERT_EQ(1u, q->countDistances());
    boost::shared_ptr<CtvxDistance> d;
    q->getDistance(0, d);
    EXPECT_NEAR(1.75, d->distance(), 1e-6);
    a->setTolerance(3e38); // the largest kind accepted: finite as a float
    EXPECT_EQ(3e38, a->tolerance());
}

TEST(InputChecks, ScaleFactorsAndTransformsKeepGeometryUsable)
{
    boost::shared_ptr<CtvxPolyhedron> p = makeBoxEntity(0.5, 0.5, 0.5);
    boost::shared_ptr<ProbeAssembly> holder = ProbeAssembly::create();
    holder->attach(p, -1);
    CqarPoint3 centre(0, 0, 0);
    CqarPoint3 badCentre(nan, 0, 0);
    CqarMat4 singular = withElement(CqarMat4(), 1, 1, 0.0);
    CqarMat4 notFinite = withElement(CqarMat4(), 0, 3, inf);
    CqarPoint3 before;
    p->getPoint(0, before);
    for (double const f : {0.0, -2.0, nan, inf}) {
        CqarLogManager::clear();
        EXPECT_EQ(-1, p->scale(centre, f)) << f;
        EXPECT_EQ(-1, holder->scale(centre, f)) << f;
        EXPECT_EQ(2u, CqarLogManager::messages().size());
    }
    EXPECT_EQ(-1, p->scale(badCentre, 0.5));
    EXPECT_EQ(-1, holder->scale(badCentre, 0.5));
    EXPECT_EQ(-1, p->transform(singular));
    EXPECT_EQ(-1, holder->transform(notFinite));
    CqarPoint3 after;
    p->getPoint(0, after);
    EXPECT_TRUE(before[0] == after[0] && before[1] == after[1] && before[2] == after[2]);
    // Geometry transforms need not be rigid: shrinking is what they are for.
    EXPECT_EQ(0, holder->scale(centre, 0.5));
    EXPECT_EQ(0, p->transform(withElement(CqarMat4(), 0, 0, 2.0)));
    p->getPoint(0, after);
    EXPECT_DOUBLE_EQ(before[0], after[0]);
    EXPECT_DOUBLE_EQ(0.5 * before[1], after[1]);
}

} // namespace
