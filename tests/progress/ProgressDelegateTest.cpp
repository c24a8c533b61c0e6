// What the tree builder tells a progress delegate, and that the delegate
// cannot disturb the build.

#include <tests/support/Meshes.h>
#include <tests/support/RecordingDelegate.h>
#include <tests/support/TestPoly.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace tvxtest;

namespace {

std::vector<unsigned char> treeBytes(TestPoly const& poly)
{
    CtvxPolyhedronBVTree* bv = nullptr;
    poly.getBoundingVolumes(bv);
    auto const* tree = dynamic_cast<CtvxPolyhedronOBBTree const*>(bv);
    auto const* p = reinterpret_cast<unsigned char const*>(tree->obbs());
    return std::vector<unsigned char>(p, p + tree->countObbs() * sizeof(CtvxOBB));
}

// Checks, at every report, that the builder holds its own reference; and
// can drop the host's global reference in the middle of a build.
class SelfCheckingDelegate : public RecordingDelegate {
public:
    static boost::shared_ptr<SelfCheckingDelegate> create()
    {
        return boost::shared_ptr<SelfCheckingDelegate>(new SelfCheckingDelegate());
    }
    void didBuildNode(unsigned int first) override
    {
        RecordingDelegate::didBuildNode(first);
        if (self.expired())
            ++orphanedCalls;
        if (dropGlobal)
            s_defaultDelegate.reset();
    }
    boost::weak_ptr<SelfCheckingDelegate> self;
    bool dropGlobal = false;
    int orphanedCalls = 0;
};

} // namespace

TEST(ProgressDelegate, DefaultsAreEmptyAtLoad)
{
    EXPECT_FALSE(s_defaultDelegate);
    EXPECT_FALSE(s_defaultNullDelegate);
}

TEST(ProgressDelegate, EmptyDelegateBuildsTheSameTreeSilently)
{
    Random rng(1);
    Mesh const m = makeSoup(rng, 500, 10.0, 1.0);
    auto quiet = TestPoly::create(m);
    quiet->buildBV(s_defaultNullDelegate, CtvxPoly::BV_OBB_TREE);
    auto rec = RecordingDelegate::create();
    auto loud = TestPoly::create(m);
    boost::shared_ptr<CtvxProgressDelegate> d = rec;
    loud->buildBV(d, CtvxPoly::BV_OBB_TREE);
    EXPECT_EQ(treeBytes(*quiet), treeBytes(*loud));
    EXPECT_EQ(rec->nodes.size(), 499u);
    // Only node reports come from a build.
    for (auto const& e : rec->events)
        EXPECT_EQ(e.rfind("node ", 0), 0u) << e;
}

TEST(ProgressDelegate, OneTriangleReportsNothing)
{
    Mesh m;
    m.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    m.triangles = {{0, 1, 2}};
    auto rec = RecordingDelegate::create();
    boost::shared_ptr<CtvxProgressDelegate> d = rec;
    auto poly = TestPoly::create(m);
    poly->buildBV(d, CtvxPoly::BV_OBB_TREE);
    EXPECT_TRUE(rec->events.empty());
    // A built tree is not built again, so a second call reports nothing.
    auto rec2 = RecordingDelegate::create();
    auto big = TestPoly::create(makeIcosphere(1, 1.0));
    boost::shared_ptr<CtvxProgressDelegate> d2 = rec2;
    big->buildBV(d2, CtvxPoly::BV_OBB_TREE);
    std::size_t const first = rec2->nodes.size();
    big->buildBV(d2, CtvxPoly::BV_OBB_TREE);
    EXPECT_EQ(rec2->nodes.size(), first);
}

TEST(ProgressDelegate, BuilderHoldsTheDelegateOnlyDuringTheBuild)
{
    auto poly = TestPoly::create(makeTorus(16, 6, 2.0, 0.5));
    unsigned int const n = poly->countTriangles();

    // The only reference is the global, which the delegate drops at its
    // first report: the builder's own copy must keep it alive to the end of
    // the build (under the sanitizers a freed delegate would be reported).
    auto del = SelfCheckingDelegate::create();
    del->self = del;
    del->dropGlobal = true;
    boost::weak_ptr<SelfCheckingDelegate> watch = del;
    s_defaultDelegate = del;
    del.reset();
    poly->buildBV(s_defaultDelegate, CtvxPoly::BV_OBB_TREE);
    EXPECT_FALSE(s_defaultDelegate);
    // Released as soon as the build ended.
    EXPECT_TRUE(watch.expired());

    // A delegate the host keeps: reported to n - 1 times, and its reference
    // count is back where it was after the build.
    auto rec = SelfCheckingDelegate::create();
    rec->self = rec;
    boost::shared_ptr<CtvxProgressDelegate> d = rec;
    long const before = rec.use_count();
    poly->rebuild(d);
    EXPECT_EQ(rec.use_count(), before);
    EXPECT_EQ(rec->nodes.size(), n - 1);
    EXPECT_EQ(rec->orphanedCalls, 0);
}
