// Long random sequences of scene-graph operations, each followed by a check
// of the whole scene against a model recomputed from scratch in double
// precision. The model keeps its own hierarchy, placements, activation,
// tolerances, geometry transforms, regroupings, group members and locks; it
// never reads the library's caches, only the mesh floats and whether a leaf
// has built its tree (which box queries change, see scaleOrTransform).
#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

namespace {

using tvxtest::Affine;
using tvxtest::toQar;
using P3 = std::array<double, 3>;

Affine fromQar(CqarMat4 const& m)
{
    Affine a;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            a.r[i][j] = m(i, j);
        a.t[i] = m(i, 3);
    }
    return a;
}

double maxDiff(Affine const& a, Affine const& b)
{
    double d = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            d = std::max(d, std::fabs(a.r[i][j] - b.r[i][j]));
        d = std::max(d, std::fabs(a.t[i] - b.t[i]));
    }
    return d;
}

struct Node {
    boost::shared_ptr<CtvxObject> obj;
    boost::shared_ptr<CtvxAssembly> as;
    boost::shared_ptr<CtvxPolyhedron> leaf;
    int parent = -1;
    std::vector<int> children;
    Affine rel;
    bool locked = false;
    // Leaves.
    int mesh = -1;
    Affine geom; // points in the leaf's own frame = geom * stored points
    bool active = true;
    double tol = 0.0;
    // Assemblies.
    bool regrouped = false;
    bool groupFlag = true;
    std::vector<int> members;
};

class RandomScene {
public:
    RandomScene(std::uint32_t seed) : m_rng(seed), m_seed(seed)
    {
        tvxtest::Random meshRng(seed + 7);
        std::vector<tvxtest::Mesh> meshes = {tvxtest::makeBox(0.5, 0.3, 0.2), tvxtest::makeIcosphere(1, 0.6),
                                             tvxtest::makeTorus(6, 4, 0.6, 0.2),
                                             tvxtest::makeSoup(meshRng, 16, 1.5, 0.5)};
        for (auto const& m : meshes) {
            m_data.push_back(tvxtest::makePolyData(m));
            std::vector<P3> pts;
            for (unsigned int i = 0; i < m_data.back()->countPoints(); ++i) {
                float x, y, z;
                m_data.back()->getPoint(i, x, y, z);
                pts.push_back({x, y, z});
            }
            m_points.push_back(pts);
        }
        // A random hierarchy of depth up to 6 under one root, plus two free
        // objects that walks may attach anywhere.
        newNode(true, -1);
        int const count = 8 + static_cast<int>(m_rng.below(18));
        for (int i = 0; i < count; ++i) {
            std::vector<int> hosts;
            for (int k = 0; k < static_cast<int>(m_n.size()); ++k)
                if (m_n[k].as && depth(k) < 5)
                    hosts.push_back(k);
            int const host = hosts[m_rng.below(static_cast<std::uint32_t>(hosts.size()))];
            newNode(m_rng.chance(0.35), host);
        }
        newNode(false, -1);
        newNode(true, -1);
    }

    void run(int steps)
    {
        check("initial");
        for (int s = 0; s < steps; ++s) {
            std::string const what = step();
            std::ostringstream os;
            os << "seed " << m_seed << " step " << s << ": " << what;
            check(os.str());
            if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure())
                return;
        }
    }

    std::map<std::string, int> const& coverage() const { return m_coverage; }

private:
    // -------------------------------------------------------------------
    // Model helpers

    int newNode(bool assembly, int host)
    {
        Node nd;
        if (assembly) {
            nd.as = CtvxAssembly::create();
            nd.obj = nd.as;
        } else {
            nd.mesh = static_cast<int>(m_rng.below(static_cast<std::uint32_t>(m_data.size())));
            nd.leaf = CtvxPolyhedron::create(m_data[nd.mesh]);
            nd.obj = nd.leaf;
        }
        nd.rel = tvxtest::randomRigid(m_rng, 3.0);
        EXPECT_EQ(0, nd.obj->relativePosition(toQar(nd.rel)));
        m_n.push_back(nd);
        int const id = static_cast<int>(m_n.size()) - 1;
        if (host >= 0) {
            EXPECT_EQ(0, m_n[host].as->attach(nd.obj, -1));
            modelAttach(id, host, -1);
        }
        return id;
    }

    int depth(int i) const
    {
        int d = 0;
        for (int p = m_n[i].parent; p >= 0; p = m_n[p].parent)
            ++d;
        return d;
    }

    int height(int i) const
    {
        int h = 0;
        for (int c : m_n[i].children)
            h = std::max(h, 1 + height(c));
        return h;
    }

    bool isBelowOrSelf(int x, int top) const
    {
        for (int p = x; p >= 0; p = m_n[p].parent)
            if (p == top)
                return true;
        return false;
    }

    Affine absModel(int i) const
    {
        Affine a = m_n[i].rel;
        for (int p = m_n[i].parent; p >= 0; p = m_n[p].parent)
            a = m_n[p].rel * a;
        return a;
    }

    void activeLeavesBelow(int i, std::vector<int>& out) const
    {
        if (m_n[i].leaf) {
            if (m_n[i].active)
                out.push_back(i);
            return;
        }
        for (int c : m_n[i].children)
            activeLeavesBelow(c, out);
    }

    void allBelow(int i, std::vector<int>& out) const
    {
        for (int c : m_n[i].children) {
            out.push_back(c);
            allBelow(c, out);
        }
    }

    void setLockBelow(int i, bool b)
    {
        std::vector<int> below;
        allBelow(i, below);
        for (int k : below)
            m_n[k].locked = b;
    }

    void modelRegroup(int i)
    {
        std::vector<int> below;
        allBelow(i, below);
        for (int k : below)
            m_n[k].regrouped = false;
        setLockBelow(i, true);
        m_n[i].members.clear();
        activeLeavesBelow(i, m_n[i].members);
        m_n[i].regrouped = true;
        m_n[i].groupFlag = true;
    }

    void modelDegroup(int i)
    {
        if (m_n[i].locked || !m_n[i].regrouped)
            return;
        setLockBelow(i, false);
        m_n[i].regrouped = false;
        m_n[i].members.clear();
    }

    int firstUnlockedAncestor(int i) const
    {
        int p = m_n[i].parent;
        while (p >= 0 && m_n[p].locked)
            p = m_n[p].parent;
        return p;
    }

    void modelMakeEntity(int i)
    {
        if (m_n[i].locked)
            modelSplit(i);
        if (m_n[i].as && !m_n[i].regrouped)
            modelRegroup(i);
    }

    void modelMakeEntityExcept(int i, int except)
    {
        if (i == except)
            return;
        if (!isBelowOrSelf(except, i)) {
            modelMakeEntity(i);
            return;
        }
        modelDegroup(i);
        for (int c : std::vector<int>(m_n[i].children))
            modelMakeEntityExcept(c, except);
    }

    void modelSplit(int i)
    {
        if (!m_n[i].locked)
            return;
        int const a = firstUnlockedAncestor(i);
        if (a < 0)
            return;
        setLockBelow(a, false);
        modelMakeEntityExcept(a, i);
    }

    void modelRemoveEntities(int i)
    {
        if (m_n[i].as) {
            modelDegroup(i);
            for (int c : m_n[i].children)
                modelRemoveEntities(c);
        }
    }

    void modelDetach(int o)
    {
        int const p = m_n[o].parent;
        m_n[o].rel = absModel(o);
        auto& ch = m_n[p].children;
        ch.erase(std::find(ch.begin(), ch.end(), o));
        m_n[o].parent = -1;
    }

    void modelAttach(int o, int a, int rank)
    {
        if (m_n[o].parent >= 0)
            modelDetach(o);
        bool const was = m_n[a].regrouped;
        if (was)
            modelDegroup(a);
        m_n[o].rel = absModel(a).inverse() * m_n[o].rel;
        auto& ch = m_n[a].children;
        if (rank < 0)
            ch.push_back(o);
        else
            ch.insert(ch.begin() + rank, o);
        m_n[o].parent = a;
        if (was)
            modelRegroup(a);
    }

    bool modelActivation(int i, bool b, bool& changed)
    {
        if (m_n[i].leaf) {
            if (m_n[i].active != b) {
                m_n[i].active = b;
                changed = true;
            }
            return changed;
        }
        if (m_n[i].regrouped) {
            if (m_n[i].groupFlag != b)
                changed = true;
            m_n[i].groupFlag = b;
        }
        for (int c : m_n[i].children)
            modelActivation(c, b, changed);
        if (b && changed && m_n[i].regrouped) {
            std::vector<int> act;
            activeLeavesBelow(i, act);
            bool missing = false;
            unsigned int tris = 0;
            for (int m : m_n[i].members)
                tris += m_data[m_n[m].mesh]->countTriangles();
            for (int l : act)
                if (std::find(m_n[i].members.begin(), m_n[i].members.end(), l) == m_n[i].members.end())
                    missing = true;
            if (tris == 0 || missing) {
                m_n[i].members = act;
                m_n[i].groupFlag = true;
            }
        }
        return changed;
    }

    // Leaves whose geometry a world-space scaling or transform reaches, and
    // the expected result.
    int modelGeometryTargets(int i, std::vector<int>& out) const
    {
        if (m_n[i].leaf) {
            if (m_n[i].locked || !m_n[i].leaf->areCollisionEntitiesMade())
                return -1;
            out.push_back(i);
            return 0;
        }
        if (m_n[i].regrouped) {
            out.insert(out.end(), m_n[i].members.begin(), m_n[i].members.end());
            return 0;
        }
        int res = 0;
        for (int c : m_n[i].children)
            if (modelGeometryTargets(c, out) == -1)
                res = -1;
        return res;
    }

    // -------------------------------------------------------------------
    // Steps

    int pick() { return static_cast<int>(m_rng.below(static_cast<std::uint32_t>(m_n.size()))); }

    boost::shared_ptr<CtvxProgressDelegate> maybeDelegate(boost::shared_ptr<tvxtest::RecordingDelegate>& rec)
    {
        if (m_rng.chance(0.4)) {
            rec = tvxtest::RecordingDelegate::create();
            return rec;
        }
        return boost::shared_ptr<CtvxProgressDelegate>();
    }

    static boost::shared_ptr<CtvxProgressDelegate>& noDelegate()
    {
        static boost::shared_ptr<CtvxProgressDelegate> none;
        return none;
    }

    unsigned int expectedEntityTriangles(int i) const
    {
        if (m_n[i].leaf)
            return m_n[i].leaf->countTriangles();
        unsigned int n = 0;
        for (int m : m_n[i].members)
            n += m_data[m_n[m].mesh]->countTriangles();
        return n;
    }

    void count(std::string const& what, int result)
    {
        ++m_coverage[what + (result == 0 ? " ok" : " refused")];
    }

    std::string step()
    {
        std::ostringstream os;
        int const i = pick();
        Node& nd = m_n[i];
        os << "object " << i << (nd.as ? " (assembly)" : " (leaf)") << ": ";
        switch (m_rng.below(14)) {
        case 0: { // place relative
            Affine const m = tvxtest::randomRigid(m_rng, 3.0);
            int const r = nd.obj->relativePosition(toQar(m));
            EXPECT_EQ(nd.locked ? -1 : 0, r);
            if (!nd.locked)
                nd.rel = m;
            count("relativePosition", r);
            os << "relativePosition";
            break;
        }
        case 1: { // place absolute
            Affine const m = tvxtest::randomRigid(m_rng, 6.0);
            int const r = nd.obj->absolutePosition(toQar(m));
            EXPECT_EQ(nd.locked ? -1 : 0, r);
            if (!nd.locked)
                nd.rel = nd.parent < 0 ? m : absModel(nd.parent).inverse() * m;
            count("absolutePosition", r);
            os << "absolutePosition";
            break;
        }
        case 2:
        case 3: { // attach at a rank
            std::vector<int> hosts;
            for (int k = 0; k < static_cast<int>(m_n.size()); ++k)
                if (m_n[k].as && !isBelowOrSelf(k, i) && depth(k) + 1 + height(i) <= 6)
                    hosts.push_back(k);
            if (hosts.empty())
                return os.str() + "no host";
            int const a = hosts[m_rng.below(static_cast<std::uint32_t>(hosts.size()))];
            int rank = -1;
            int const n = static_cast<int>(m_n[a].children.size()) - (m_n[i].parent == a ? 1 : 0);
            if (m_rng.chance(0.5))
                rank = static_cast<int>(m_rng.below(static_cast<std::uint32_t>(n + 1)));
            int const r = m_n[a].as->attach(nd.obj, rank);
            bool const refuse = m_n[a].locked || nd.locked;
            EXPECT_EQ(refuse ? -1 : 0, r);
            if (!refuse)
                modelAttach(i, a, rank);
            count(m_n[a].regrouped ? "attach to regrouped" : "attach", r);
            os << "attach to " << a << " at " << rank;
            break;
        }
        case 4: { // detach
            if (nd.parent < 0)
                return os.str() + "root, no detach";
            int const p = nd.parent;
            unsigned int rank = 99;
            boost::shared_ptr<CtvxObject> o = nd.obj;
            int const r = m_n[p].as->detach(o, rank);
            bool const refuse = m_n[p].locked || nd.locked;
            EXPECT_EQ(refuse ? -1 : 0, r);
            if (!refuse) {
                auto const& ch = m_n[p].children;
                EXPECT_EQ(static_cast<unsigned int>(std::find(ch.begin(), ch.end(), i) - ch.begin()), rank);
                modelDetach(i);
            }
            count("detach", r);
            os << "detach";
            break;
        }
        case 5:
        case 6: { // activation
            bool const b = m_rng.chance(0.6);
            int const r = nd.obj->activation(b);
            EXPECT_EQ(nd.locked ? -1 : 0, r);
            if (!nd.locked) {
                bool changed = false;
                modelActivation(i, b, changed);
            }
            count(b ? "activate" : "deactivate", r);
            os << "activation " << b;
            break;
        }
        case 7: { // tolerance
            double const t = m_rng.uniform(0.0, 0.3);
            nd.obj->setTolerance(t);
            std::vector<int> below{i};
            allBelow(i, below);
            for (int k : below)
                if (m_n[k].leaf)
                    m_n[k].tol = t;
            count(nd.locked ? "setTolerance locked" : "setTolerance", 0);
            os << "setTolerance " << t;
            break;
        }
        case 8:
        case 9: { // collision entity, which regroups assemblies
            boost::shared_ptr<tvxtest::RecordingDelegate> rec;
            boost::shared_ptr<CtvxProgressDelegate> d = maybeDelegate(rec);
            bool const wasLocked = nd.locked;
            nd.obj->makeCollisionEntity(d);
            modelMakeEntity(i);
            if (rec) {
                EXPECT_FALSE(rec->madeObjects.empty());
                if (!rec->madeObjects.empty()) {
                    EXPECT_EQ(nd.obj.get(), rec->madeObjects.back());
                    EXPECT_EQ("entity " + std::to_string(expectedEntityTriangles(i)), rec->events.back());
                }
            }
            count(wasLocked ? "makeCollisionEntity locked" : (nd.as ? "regroup" : "makeCollisionEntity leaf"), 0);
            os << "makeCollisionEntity";
            break;
        }
        case 13: { // collision entities of everything but one branch
            std::vector<int> below;
            allBelow(i, below);
            int const except = (!below.empty() && m_rng.chance(0.7))
                                   ? below[m_rng.below(static_cast<std::uint32_t>(below.size()))]
                                   : pick();
            bool const wasLocked = nd.locked;
            nd.obj->makeCollisionEntity(m_n[except].obj, noDelegate());
            modelMakeEntityExcept(i, except);
            count(wasLocked ? "makeCollisionEntity except, locked" : "makeCollisionEntity except", 0);
            os << "makeCollisionEntity except " << except;
            break;
        }
        case 10: { // degroup
            nd.obj->removeCollisionEntities();
            modelRemoveEntities(i);
            count("removeCollisionEntities", 0);
            os << "removeCollisionEntities";
            break;
        }
        case 11: { // unlock, splitting a regrouping
            boost::shared_ptr<tvxtest::RecordingDelegate> rec;
            boost::shared_ptr<CtvxProgressDelegate> d = maybeDelegate(rec);
            bool const make = m_rng.chance(0.5);
            bool const wasLocked = nd.locked;
            nd.obj->unlock(d, make);
            modelSplit(i);
            if (make)
                modelMakeEntity(i);
            EXPECT_FALSE(nd.obj->isLocked());
            count(wasLocked ? "unlock locked" : "unlock free", 0);
            os << "unlock " << make;
            break;
        }
        case 12: { // scale or transform the geometry
            std::vector<int> targets;
            int const expected = modelGeometryTargets(i, targets);
            Affine x;
            bool const isScale = m_rng.chance(0.5);
            int r;
            if (isScale) {
                double const f = m_rng.uniform(0.85, 1.15);
                CqarPoint3 c(m_rng.uniform(-4, 4), m_rng.uniform(-4, 4), m_rng.uniform(-4, 4));
                for (int k = 0; k < 3; ++k) {
                    x.r[k][k] = f;
                    x.t[k] = (1.0 - f) * c[k];
                }
                r = nd.obj->scale(c, f);
            } else {
                x = tvxtest::randomRigid(m_rng, 1.0);
                double const f = m_rng.uniform(0.9, 1.1);
                for (int a = 0; a < 3; ++a)
                    for (int b = 0; b < 3; ++b)
                        x.r[a][b] *= f;
                r = nd.obj->transform(toQar(x));
            }
            EXPECT_EQ(expected, r);
            for (int l : targets) {
                Affine const a = absModel(l);
                m_n[l].geom = a.inverse() * x * a * m_n[l].geom;
            }
            count(isScale ? "scale" : "transform", r);
            os << (isScale ? "scale" : "transform") << " reaching " << targets.size() << " leaves";
            break;
        }
        }
        return os.str();
    }

    // -------------------------------------------------------------------
    // Checks

    void check(std::string const& where)
    {
        SCOPED_TRACE(where);
        double extent = 1.0;
        for (int i = 0; i < static_cast<int>(m_n.size()); ++i) {
            Node const& nd = m_n[i];
            CqarMat4 abs;
            nd.obj->getAbsolutePosition(abs);
            Affine const want = absModel(i);
            extent = std::max(extent, want.maxAbs());
            ASSERT_LE(maxDiff(fromQar(abs), want), 1e-9 * (1.0 + want.maxAbs())) << "placement of " << i;
            ASSERT_EQ(nd.locked, nd.obj->isLocked()) << "lock of " << i;
            boost::shared_ptr<CtvxAssembly> p;
            ASSERT_EQ(nd.parent < 0 ? -1 : 0, nd.obj->getParent(p));
            ASSERT_EQ(nd.parent < 0 ? nullptr : m_n[nd.parent].as.get(), p.get());
            if (nd.as) {
                ASSERT_EQ(nd.children.size(), nd.as->countChildren());
                for (std::size_t k = 0; k < nd.children.size(); ++k)
                    ASSERT_EQ(m_n[nd.children[k]].obj, nd.as->child(static_cast<unsigned int>(k)));
                ASSERT_EQ(nd.regrouped, nd.as->isRegrouped()) << "regrouping of " << i;
                if (nd.regrouped) {
                    boost::shared_ptr<CtvxPolyhedronGroup> const g = nd.as->regroupedPoly();
                    ASSERT_TRUE(g);
                    ASSERT_EQ(nd.members.size(), g->countPolyhedra()) << "members of " << i;
                    double maxTol = 0.0;
                    unsigned int tris = 0;
                    for (std::size_t k = 0; k < nd.members.size(); ++k) {
                        ASSERT_EQ(m_n[nd.members[k]].leaf, g->polyhedron(static_cast<unsigned int>(k)));
                        maxTol = std::max(maxTol, m_n[nd.members[k]].tol);
                        tris += m_n[nd.members[k]].leaf->countTriangles();
                    }
                    ASSERT_EQ(tris, g->countTriangles());
                    // Setting the assembly's tolerance sets the group's
                    // directly, also when it has no member to carry it.
                    if (!nd.members.empty()) {
                        ASSERT_EQ(maxTol, g->maxTolerance()) << "group tolerance of " << i;
                    }
                    ASSERT_EQ(nd.groupFlag, g->isActivatedForAnalysis());
                }
            } else {
                ASSERT_EQ(nd.active ? CtvxObject::ACTIVATED : CtvxObject::DEACTIVATED, nd.obj->activation());
                ASSERT_EQ(nd.tol, nd.leaf->tolerance());
                checkPoints(i);
            }
        }
        for (int i = 0; i < static_cast<int>(m_n.size()); ++i)
            if (m_n[i].parent < 0)
                checkBoxes(i, extent);
    }

    // The leaf's points, read in the frame they are currently expressed in:
    // its own, or that of the regrouped assembly above it.
    void checkPoints(int i)
    {
        Node const& nd = m_n[i];
        Affine frame = nd.geom;
        if (nd.locked) {
            int const r = firstUnlockedAncestor(i);
            ASSERT_GE(r, 0);
            frame = absModel(r).inverse() * absModel(i) * nd.geom;
        }
        auto const& pts = m_points[nd.mesh];
        for (unsigned int k = 0; k < pts.size(); ++k) {
            P3 const want = frame.apply(pts[k]);
            CqarPoint3 got;
            nd.leaf->getPoint(k, got);
            double const bound = 1e-10 * (1.0 + frame.maxAbs());
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(want[c], got[c], bound) << "leaf " << i << " point " << k;
        }
    }

    // Pre-order, so that a box that should have been marked stale but was
    // not is read before anything below it refreshes it.
    void checkBoxes(int i, double extent)
    {
        Node const& nd = m_n[i];
        float h[3];
        CqarMat4 b;
        int const r1 = nd.obj->getObbHalfLengths(h[0], h[1], h[2]);
        int const r2 = nd.obj->getObbRelativePosition(b);
        ASSERT_EQ(r1, r2);
        std::vector<int> act;
        activeLeavesBelow(i, act);
        ASSERT_EQ(act.empty() ? -1 : 0, r1) << "box presence of " << i;
        if (r1 == 0) {
            // Boxes are placed and sized in single precision from
            // coordinates as large as the scene's extent; a few float
            // roundings (2^-24 each) of the extent bound what they may miss
            // by. Measured: no vertex ever came out, with margins of at
            // least 2e-7 of the extent on the inside.
            double const eps = 1e-6 * extent;
            Affine const toBox = (absModel(i) * fromQar(b)).inverse();
            for (int l : act) {
                Affine const toWorld = absModel(l) * m_n[l].geom;
                for (auto const& p : m_points[m_n[l].mesh]) {
                    P3 const q = toBox.apply(toWorld.apply(p));
                    for (int c = 0; c < 3; ++c)
                        ASSERT_LE(std::fabs(q[c]) + m_n[l].tol, h[c] + eps)
                            << "box of " << i << " misses a vertex of leaf " << l << " on axis " << c;
                }
            }
        } else {
            ASSERT_EQ(0.0f, h[0]);
        }
        for (int c : nd.children)
            checkBoxes(c, extent);
    }

    tvxtest::Random m_rng;
    std::uint32_t m_seed;
    std::vector<boost::shared_ptr<CtvxPolyhedronData>> m_data;
    std::vector<std::vector<P3>> m_points;
    std::vector<Node> m_n;
    std::map<std::string, int> m_coverage;
};

TEST(SceneRandomWalk, PlacementsLocksBoxesAndGeometryFollowTheModel)
{
    std::map<std::string, int> total;
    int const steps = tvxtest::runs(800);
    for (std::uint32_t seed : {11u, 23u, 42u, 77u, 101u, 2026u, 31337u, 4u}) {
        RandomScene scene(seed);
        scene.run(steps);
        if (HasFailure())
            return;
        for (auto const& kv : scene.coverage())
            total[kv.first] += kv.second;
    }
    // The walks must have met each situation they are meant to exercise.
    if (steps >= 100) {
        for (char const* what : {"regroup ok", "attach to regrouped ok", "makeCollisionEntity locked ok",
                                 "unlock locked ok", "relativePosition refused", "absolutePosition refused",
                                 "detach ok", "detach refused", "activate refused", "setTolerance locked ok",
                                 "scale ok", "transform ok", "scale refused", "removeCollisionEntities ok",
                                 "makeCollisionEntity except ok", "makeCollisionEntity except, locked ok"}) {
            EXPECT_GT(total[what], 0) << what;
        }
    }
    std::ostringstream os;
    for (auto const& kv : total)
        os << kv.first << ": " << kv.second << "\n";
    RecordProperty("coverage", os.str());
    std::cout << os.str();
}

} // namespace
