// Ownership: a scene dies with its last external shared pointer, whatever
// state it is in, and collision lists keep their objects alive exactly as
// long as they live themselves.
#include <tests/support/Meshes.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <gtest/gtest.h>

namespace {

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

struct Scene {
    std::vector<boost::weak_ptr<CtvxObject>> objects;
    std::vector<boost::weak_ptr<CtvxPolyhedronGroup>> groups;
    boost::weak_ptr<CtvxPolyhedronData> data;
};

// root -> { r1 (regrouped) -> { l1, s -> { l2, l3 (off) } }, l4, r2 -> { l5 } }
// with every leaf sharing one mesh, l4 an entity with a tree, r2 regrouped
// after a split, and a prioritary child set on the way.
boost::shared_ptr<CtvxAssembly> buildScene(Scene& s)
{
    boost::shared_ptr<CtvxPolyhedronData> data = tvxtest::makePolyData(tvxtest::makeIcosphere(1, 1.0));
    s.data = data;
    boost::shared_ptr<CtvxAssembly> root = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> r1 = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> sub = CtvxAssembly::create();
    boost::shared_ptr<CtvxAssembly> r2 = CtvxAssembly::create();
    std::vector<boost::shared_ptr<CtvxPolyhedron>> l;
    for (int i = 0; i < 5; ++i)
        l.push_back(CtvxPolyhedron::create(data));
    root->attach(r1, -1);
    root->attach(l[3], -1);
    root->attach(r2, -1);
    r1->attach(l[0], -1);
    r1->attach(sub, -1);
    sub->attach(l[1], -1);
    sub->attach(l[2], -1);
    r2->attach(l[4], -1);
    l[2]->activation(false);
    r1->makeCollisionEntity(noDelegate);
    l[3]->makeCollisionEntity(noDelegate);
    r2->makeCollisionEntity(noDelegate);
    float h[3];
    root->getObbHalfLengths(h[0], h[1], h[2]);
    for (boost::shared_ptr<CtvxObject> o :
         std::vector<boost::shared_ptr<CtvxObject>>{root, r1, sub, r2, l[0], l[1], l[2], l[3], l[4]})
        s.objects.push_back(o);
    s.groups.push_back(r1->regroupedPoly());
    s.groups.push_back(r2->regroupedPoly());
    return root;
}

void expectAllExpired(Scene const& s)
{
    for (std::size_t i = 0; i < s.objects.size(); ++i)
        EXPECT_TRUE(s.objects[i].expired()) << "object " << i;
    for (std::size_t i = 0; i < s.groups.size(); ++i)
        EXPECT_TRUE(s.groups[i].expired()) << "group " << i;
    EXPECT_TRUE(s.data.expired());
}

TEST(SceneLifetime, SceneDiesWithItsRoot)
{
    Scene s;
    {
        boost::shared_ptr<CtvxAssembly> root = buildScene(s);
        ASSERT_FALSE(s.groups[0].expired());
        ASSERT_FALSE(s.groups[1].expired());
    }
    expectAllExpired(s);
}

TEST(SceneLifetime, SplitRegroupingLeavesNoCycle)
{
    Scene s;
    {
        boost::shared_ptr<CtvxAssembly> root = buildScene(s);
        boost::shared_ptr<CtvxObject> l2 = s.objects[5].lock();
        l2->unlock(noDelegate, true);
        // Reactivating a regrouped assembly rebuilds its group.
        boost::shared_ptr<CtvxObject> r2 = s.objects[3].lock();
        r2->activation(false);
        r2->activation(true);
    }
    for (std::size_t i = 0; i < s.objects.size(); ++i)
        EXPECT_TRUE(s.objects[i].expired()) << "object " << i;
    EXPECT_TRUE(s.data.expired());
}

TEST(SceneLifetime, CollisionListsHoldTheirObjects)
{
    Scene s;
    boost::shared_ptr<CtvxCollisionList> list = CtvxCollisionList::create();
    {
        boost::shared_ptr<CtvxAssembly> root = buildScene(s);
        list->add(s.objects[1].lock()); // r1, regrouped
        list->add(s.objects[4].lock()); // l1, locked inside r1
    }
    // r1 and what it holds are kept by the list, though detached from the
    // dead root; the rest of the scene is gone.
    EXPECT_TRUE(s.objects[0].expired());
    EXPECT_FALSE(s.objects[1].expired());
    EXPECT_FALSE(s.groups[0].expired());
    EXPECT_TRUE(s.objects[3].expired());
    boost::shared_ptr<CtvxAssembly> parent;
    EXPECT_EQ(-1, s.objects[1].lock()->getParent(parent));
    boost::shared_ptr<CtvxCollisionList> copy = CtvxCollisionList::create(list);
    list.reset();
    EXPECT_FALSE(s.objects[1].expired());
    copy.reset();
    expectAllExpired(s);
}

TEST(SceneLifetime, ChildOutlivingItsParentBecomesARoot)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1));
    boost::weak_ptr<CtvxAssembly> wa;
    {
        boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
        CqarMat4 m;
        m(0, 3) = 1;
        a->relativePosition(m);
        a->attach(p, -1);
        wa = a;
    }
    EXPECT_TRUE(wa.expired());
    boost::shared_ptr<CtvxAssembly> parent;
    EXPECT_EQ(-1, p->getParent(parent));
    EXPECT_EQ(p, p->root());
}

TEST(SceneLifetime, LeavesOutlivingTheirRegroupedAssemblyAreFreed)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 2, 3));
    std::vector<CqarPoint3> before(p->countPoints());
    for (unsigned int i = 0; i < p->countPoints(); ++i)
        p->getPoint(i, before[i]);
    {
        boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
        boost::shared_ptr<CtvxAssembly> sub = CtvxAssembly::create();
        CqarMat4 m;
        m(0, 3) = 4;
        a->relativePosition(m);
        CqarMat4 s;
        s(0, 0) = 0;
        s(0, 1) = -1;
        s(1, 0) = 1;
        s(1, 1) = 0;
        s(2, 3) = 7;
        a->attach(sub, -1);
        sub->relativePosition(s);
        sub->attach(p, -1);
        p->relativePosition(s);
        a->makeCollisionEntity(noDelegate);
        ASSERT_TRUE(p->isLocked());
    }
    // Its points are in its own frame again and it may be moved and made an
    // entity of its own.
    EXPECT_FALSE(p->isLocked());
    for (unsigned int i = 0; i < p->countPoints(); ++i) {
        CqarPoint3 now;
        p->getPoint(i, now);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(before[i][c], now[c], 1e-12) << "point " << i;
    }
    CqarMat4 m;
    EXPECT_EQ(0, p->relativePosition(m));
}

TEST(SceneLifetime, GroupOfADeadAssembly)
{
    boost::shared_ptr<CtvxPolyhedronGroup> g;
    boost::weak_ptr<CtvxObject> leafRef;
    {
        boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
        boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1));
        a->attach(p, -1);
        a->makeCollisionEntity(noDelegate);
        g = a->regroupedPoly();
        leafRef = p;
    }
    EXPECT_FALSE(g->obj());
    CqarMat4 m;
    m(0, 3) = 5;
    g->getAbsPos(m);
    EXPECT_EQ(0.0, m(0, 3));
    // The group still holds its member, which holds nothing back.
    EXPECT_FALSE(leafRef.expired());
    g.reset();
    EXPECT_TRUE(leafRef.expired());
}

} // namespace
