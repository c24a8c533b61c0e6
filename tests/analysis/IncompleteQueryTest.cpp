// Queries over geometry that has no usable tree: never made a collision
// entity, a tree refused for a triangle naming a point past the end, or a
// tree that misses triangles added after it was built. Each is tried on its
// own, inside an assembly and inside a regrouped assembly, with all four
// query types: a query that could not examine a pair says so (and logs it)
// instead of reading as "no contact", and a stale tree is rebuilt before it
// answers. The expected answers are those of two boxes and one added
// triangle, worked out by hand.
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>
#include <tests/support/SceneProbes.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <qar/CqarLogManager.h>

#include <gtest/gtest.h>

namespace {

using namespace tvxtest;
typedef boost::shared_ptr<CtvxObject> ObjectPtr;

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

enum Holder { ALONE, IN_ASSEMBLY, REGROUPED };

// Box A (unit, at the origin, or the mesh given) as list 1's object, alone
// or below an assembly with two far siblings (whose box alone, when A has
// none, the box test prunes); box B (unit) in list 2, at x. Made collision
// entities: A itself, or the assembly when regrouped.
struct Scene {
    boost::shared_ptr<CtvxPolyhedron> a;
    boost::shared_ptr<ProbeAssembly> assembly;
    ObjectPtr listed;
    boost::shared_ptr<CtvxPolyhedron> b;

    Scene(Holder holder, double x, bool makeEntities,
          boost::shared_ptr<CtvxPolyhedronData> data = boost::shared_ptr<CtvxPolyhedronData>())
    {
        if (!data)
            data = makePolyData(makeBox(0.5, 0.5, 0.5));
        a = CtvxPolyhedron::create(data);
        b = makeBoxEntity(0.5, 0.5, 0.5, x, 0, 0);
        listed = a;
        if (holder != ALONE) {
            assembly = ProbeAssembly::create();
            assembly->attach(a, -1);
            assembly->attach(makeBoxEntity(0.5, 0.5, 0.5, 0, 40, 0), -1);
            assembly->attach(makeBoxEntity(0.5, 0.5, 0.5, 0, 41, 0), -1);
            listed = assembly;
        }
        if (makeEntities)
            (holder == REGROUPED ? listed : ObjectPtr(a))->makeCollisionEntity(noDelegate);
    }

    // One query; the number of contacts, and the clearance (-1 if none).
    double query(CtvxAnalysis::EAnalysisType type, unsigned int& contacts, bool& complete) const
    {
        boost::shared_ptr<CtvxAnalysis> q = analysisOf(listOf({listed}), listOf({b}), type);
        q->compute();
        contacts = q->countCollisions();
        complete = q->isComplete();
        boost::shared_ptr<CtvxDistance> d;
        q->getDistance(0, d);
        return d ? d->distance() : -1.0;
    }

    void addTriangleAt(double x)
    {
        boost::shared_ptr<CtvxPolyhedronData> data = a->polyData();
        unsigned int p0 = 0, p1 = 0, p2 = 0, t = 0;
        data->addPoint(static_cast<float>(x), -1.0f, -1.0f, p0);
        data->addPoint(static_cast<float>(x), 1.0f, -1.0f, p1);
        data->addPoint(static_cast<float>(x), 0.0f, 1.0f, p2);
        data->addTriangle(p0, p1, p2, t);
    }
};

std::string holderName(Holder h)
{
    return h == ALONE ? "alone" : h == IN_ASSEMBLY ? "in an assembly" : "in a regrouped assembly";
}

TEST(IncompleteQuery, PairsWithoutATreeAreReportedNeverReadAsApart)
{
    unsigned int const past = 100000; // was read out of bounds by the builder
    for (Holder const holder : {ALONE, IN_ASSEMBLY, REGROUPED}) {
        for (bool const badIndex : {false, true}) {
            // Inside an assembly a missing tree is built when the box is
            // needed; only a refused one is missing there.
            if (!badIndex && holder != ALONE)
                continue;
            SCOPED_TRACE(holderName(holder) + (badIndex ? ", triangle past the points" : ", no entity made"));
            CqarLogManager::clear();
            boost::shared_ptr<CtvxPolyhedronData> data = makePolyData(makeBox(0.5, 0.5, 0.5));
            unsigned int t = 0;
            if (badIndex)
                data->addTriangle(0, 1, past, t);
            Scene scene(holder, 0.5, badIndex, data);
            if (badIndex) {
                EXPECT_FALSE(scene.listed->areCollisionEntitiesMade());
                ASSERT_EQ(1u, CqarLogManager::messages().size());
                EXPECT_NE(std::string::npos, CqarLogManager::messages()[0].find("names point 100000"));
            }
            ObjectPtr const skipped = holder == REGROUPED ? scene.listed : ObjectPtr(scene.a);
            std::string const named = holder == ALONE       ? "the CtvxPolyhedron at rank 0 of collision list 1"
                                      : holder == REGROUPED ? "the CtvxAssembly at rank 0 of collision list 1"
                                                            : "a CtvxPolyhedron below the CtvxAssembly at rank 0";
            for (int type = 0; type < 4; ++type) {
                CqarLogManager::clear();
                boost::shared_ptr<CtvxAnalysis> q =
                    analysisOf(listOf({scene.listed}), listOf({scene.b}), CtvxAnalysis::EAnalysisType(type));
                q->compute();
                EXPECT_EQ(0u, q->countCollisions());
                EXPECT_FALSE(q->isComplete());
                ObjectPtr o;
                ASSERT_EQ(1u, q->countSkippedObjects());
                EXPECT_EQ(0, q->getSkippedObject(0, o));
                EXPECT_EQ(skipped, o);
                std::vector<std::string> const log = CqarLogManager::messages();
                ASSERT_EQ(1u, log.size());
                EXPECT_NE(std::string::npos, log[0].find(named)) << log[0];
            }
            // Repaired: the points the triangle names added (the next query
            // retries the refused build), or the entity made.
            if (badIndex)
                for (unsigned int n = data->countPoints(); n <= past; ++n)
                    data->addPoint(0.0f, 0.0f, 0.0f, t);
            else
                scene.a->makeCollisionEntity(noDelegate);
            for (int type = 0; type < 4; ++type) {
                unsigned int contacts = 0;
                bool complete = false;
                scene.query(CtvxAnalysis::EAnalysisType(type), contacts, complete);
                EXPECT_EQ(1u, contacts);
                EXPECT_TRUE(complete);
            }
        }
    }
}

TEST(IncompleteQuery, TrianglesAddedAfterTheBuildAreQueried)
{
    for (Holder const holder : {ALONE, IN_ASSEMBLY, REGROUPED}) {
        SCOPED_TRACE(holderName(holder));
        Scene scene(holder, 3.0, true);
        unsigned int contacts = 0;
        bool complete = false;
        EXPECT_NEAR(2.0, scene.query(CtvxAnalysis::EXACT_DISTANCE, contacts, complete), 1e-5);
        // A triangle across x = 2.3, 0.2 from B (which starts at 2.5).
        scene.addTriangleAt(2.3);
        EXPECT_TRUE(holder == REGROUPED ? scene.a->isLocked() : scene.a->isBVStale());
        if (holder == REGROUPED) {
            // A group tree rebuilt now (by a scaling) still lacks the new
            // triangle: it must stay stale.
            CqarPoint3 centre(0, 0, 0);
            EXPECT_EQ(0, scene.assembly->scale(centre, 1.0));
            EXPECT_TRUE(scene.assembly->regroupedPoly()->isBVStale());
        }
        float h[3];
        ASSERT_EQ(0, scene.a->getObbHalfLengths(h[0], h[1], h[2]));
        EXPECT_GE(h[0] + h[1] + h[2], 2.5f); // the box now reaches the new triangle
        EXPECT_NEAR(0.2, scene.query(CtvxAnalysis::EXACT_DISTANCE, contacts, complete), 1e-5);
        EXPECT_TRUE(complete);
        double const estimate = scene.query(CtvxAnalysis::ESTIMATED_DISTANCE, contacts, complete);
        EXPECT_TRUE(estimate >= 0.0 && estimate <= 0.2 + 1e-5) << estimate;
        for (CtvxAnalysis::EAnalysisType const type : {CtvxAnalysis::FIRST_COLLISION, CtvxAnalysis::ALL_COLLISIONS}) {
            scene.query(type, contacts, complete);
            EXPECT_EQ(0u, contacts);
        }
        // One across x = 2.6, inside B: every type reports the contact.
        scene.addTriangleAt(2.6);
        for (int type = 0; type < 4; ++type) {
            scene.query(CtvxAnalysis::EAnalysisType(type), contacts, complete);
            EXPECT_EQ(1u, contacts) << type;
            EXPECT_TRUE(complete);
        }
    }
}

} // namespace
