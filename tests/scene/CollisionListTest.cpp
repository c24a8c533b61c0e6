// Collision lists: order, duplicates, look-ups and complements in a
// hierarchy, the latter checked against a brute-force enumeration.
#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

namespace {

boost::shared_ptr<CtvxObject> leaf()
{
    return tvxtest::makePolyhedron(tvxtest::makeBox(0.1, 0.1, 0.1));
}

std::vector<CtvxObject*> contents(CtvxCollisionList const& l)
{
    std::vector<CtvxObject*> v;
    for (unsigned int i = 0; i < l.countObjects(); ++i)
        v.push_back(l.object(i).get());
    return v;
}

TEST(CollisionList, OrderDuplicatesAndLookUps)
{
    boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
    boost::shared_ptr<CtvxObject> a = leaf(), b = leaf(), c = leaf();
    unsigned int rank = 42;
    EXPECT_EQ(-1, l->getObjectRank(a, rank));
    EXPECT_EQ(42u, rank);
    l->add(a);
    l->add(b);
    l->add(a);
    EXPECT_EQ(3u, l->countObjects());
    EXPECT_EQ(0, l->getObjectRank(a, rank));
    EXPECT_EQ(0u, rank);
    l->remove(c); // absent: ignored
    EXPECT_EQ(3u, l->countObjects());
    l->remove(a);
    ASSERT_EQ(2u, l->countObjects());
    EXPECT_EQ(b, l->object(0));
    EXPECT_EQ(a, l->object(1));
    EXPECT_EQ(0, l->getObjectRank(a, rank));
    EXPECT_EQ(1u, rank);

    boost::shared_ptr<CtvxCollisionList> copy = CtvxCollisionList::create(l);
    l->remove(b);
    ASSERT_EQ(2u, copy->countObjects());
    EXPECT_EQ(b, copy->object(0));
    EXPECT_EQ(a, copy->object(1));
}

struct Tree {
    // r -> { a -> { a1, a2 -> { x, y } }, b, c -> { c1 } }
    boost::shared_ptr<CtvxAssembly> r = CtvxAssembly::create(), a = CtvxAssembly::create(),
                                    a2 = CtvxAssembly::create(), c = CtvxAssembly::create();
    boost::shared_ptr<CtvxObject> a1 = leaf(), x = leaf(), y = leaf(), b = leaf(), c1 = leaf();
    Tree()
    {
        r->attach(a, -1);
        r->attach(b, -1);
        r->attach(c, -1);
        a->attach(a1, -1);
        a->attach(a2, -1);
        a2->attach(x, -1);
        a2->attach(y, -1);
        c->attach(c1, -1);
    }
};

TEST(CollisionListComplement, EmptyListGivesTheRoot)
{
    Tree t;
    boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
    boost::shared_ptr<CtvxCollisionList> out = CtvxCollisionList::create();
    out->add(t.b);
    l->computeComplementary(t.r, out, false);
    EXPECT_EQ(std::vector<CtvxObject*>{t.r.get()}, contents(*out));
}

TEST(CollisionListComplement, SiblingsAtEveryLevelOfThePath)
{
    Tree t;
    boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
    l->add(t.x);
    boost::shared_ptr<CtvxCollisionList> out = CtvxCollisionList::create();
    l->computeComplementary(t.r, out, false);
    std::vector<CtvxObject*> const want = {t.a1.get(), t.y.get(), t.b.get(), t.c.get()};
    EXPECT_EQ(want, contents(*out));
    // One level: the other leaf of a two-leaf assembly.
    l->computeComplementary(t.a2, out, false);
    EXPECT_EQ(std::vector<CtvxObject*>{t.y.get()}, contents(*out));
    // Appending keeps what was there and adds again.
    l->computeComplementary(t.a2, out, true);
    EXPECT_EQ((std::vector<CtvxObject*>{t.y.get(), t.y.get()}), contents(*out));
}

TEST(CollisionListComplement, ListedRootLeavesNothing)
{
    Tree t;
    boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
    l->add(t.c1);
    l->add(t.r);
    boost::shared_ptr<CtvxCollisionList> out = CtvxCollisionList::create();
    out->add(t.b);
    l->computeComplementary(t.r, out, true);
    EXPECT_EQ(std::vector<CtvxObject*>{t.b.get()}, contents(*out));
    l->computeComplementary(t.r, out, false);
    EXPECT_EQ(0u, out->countObjects());
}

TEST(CollisionListComplement, IntoItself)
{
    Tree t;
    boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
    l->add(t.x);
    l->computeComplementary(t.a, l, false);
    EXPECT_EQ((std::vector<CtvxObject*>{t.a1.get(), t.y.get()}), contents(*l));
}

// Brute force: the complement is the set of maximal sub-trees free of
// listed objects, i.e. the objects o below root such that neither o nor
// anything above o (up to root) nor anything below o is listed, while o's
// parent (if below root) is not free.
void randomComplementCase(std::uint32_t seed)
{
    tvxtest::Random rng(seed);
    std::vector<boost::shared_ptr<CtvxObject>> all;
    std::vector<int> parent;
    boost::shared_ptr<CtvxAssembly> root = CtvxAssembly::create();
    all.push_back(root);
    parent.push_back(-1);
    int const n = 5 + static_cast<int>(rng.below(25));
    for (int i = 0; i < n; ++i) {
        std::vector<int> hosts;
        for (std::size_t k = 0; k < all.size(); ++k)
            if (boost::dynamic_pointer_cast<CtvxAssembly>(all[k]))
                hosts.push_back(static_cast<int>(k));
        int const h = hosts[rng.below(static_cast<std::uint32_t>(hosts.size()))];
        boost::shared_ptr<CtvxObject> o = rng.chance(0.4) ? boost::shared_ptr<CtvxObject>(CtvxAssembly::create()) : leaf();
        boost::dynamic_pointer_cast<CtvxAssembly>(all[h])->attach(o, -1);
        all.push_back(o);
        parent.push_back(h);
    }
    boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
    std::set<int> listed;
    int const k = static_cast<int>(rng.below(4));
    for (int i = 0; i < k; ++i) {
        int const pick = static_cast<int>(rng.below(static_cast<std::uint32_t>(all.size())));
        listed.insert(pick);
        l->add(all[pick]);
    }
    auto above = [&](int anc, int o) {
        for (int p = o; p >= 0; p = parent[p])
            if (p == anc)
                return true;
        return false;
    };
    auto freeNode = [&](int o) {
        for (int e : listed)
            if (above(o, e) || above(e, o))
                return false;
        return true;
    };
    // Depth-first order of the expected entries.
    std::vector<CtvxObject*> want;
    std::vector<int> order;
    std::function<void(int)> walk = [&](int o) {
        order.push_back(o);
        boost::shared_ptr<CtvxAssembly> a = boost::dynamic_pointer_cast<CtvxAssembly>(all[o]);
        if (a)
            for (unsigned int c = 0; c < a->countChildren(); ++c)
                walk(static_cast<int>(std::find(all.begin(), all.end(), a->child(c)) - all.begin()));
    };
    walk(0);
    for (int o : order)
        if (freeNode(o) && (o == 0 || !freeNode(parent[o])))
            want.push_back(all[o].get());
    boost::shared_ptr<CtvxCollisionList> out = CtvxCollisionList::create();
    l->computeComplementary(root, out, false);
    std::ostringstream os;
    os << "seed " << seed << ", listed:";
    for (int e : listed)
        os << " " << e;
    EXPECT_EQ(want, contents(*out)) << os.str();
}

TEST(CollisionListComplement, RandomHierarchiesAgainstBruteForce)
{
    int const n = tvxtest::runs(300);
    for (int s = 0; s < n; ++s) {
        randomComplementCase(static_cast<std::uint32_t>(1000 + s));
        if (HasFailure())
            return;
    }
}

} // namespace
