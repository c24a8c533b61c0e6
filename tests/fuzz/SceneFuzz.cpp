// Fuzz target: the scene and query API driven by a byte stream, as a host
// would drive it through the installed headers: polyhedra (also over shared
// mesh data, also grown after their tree was built), assemblies, placements,
// tolerances, activation, collision entities, scaling and transforming,
// collision lists and their complements, and every query type, whose results
// are read to the last sub-element. Values are mostly small multiples of
// 1/16, so that points coincide, triangles are coplanar and boxes touch;
// some are hostile (raw bit patterns: NaN, infinities, huge and tiny
// numbers, non-rigid placements, indices past the end).
//
// Besides crashes and undefined behaviour, two answers are checked against
// each other while every value the program used was ordinary (finite
// coordinates, rigid placements, non-negative tolerances, positive scale
// factors, valid indices): the first-contact and the all-contacts query
// agree on whether anything touches, and the estimated clearance never
// exceeds the exact one. A result must name triangles that exist.
//
// The program's vocabulary is in tests/fuzz/FuzzInput.h.

#include <tests/fuzz/FuzzInput.h>

#include <tvx/tvx.h>

#include <boost/pointer_cast.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using tvxfuzz::FuzzInput;
using ObjectPtr = boost::shared_ptr<CtvxObject>;

[[noreturn]] void broken(char const* what)
{
    std::fprintf(stderr, "scene fuzz: %s\n", what);
    std::abort();
}

// Bounds that keep one input to a fraction of a millisecond.
constexpr std::size_t kMaxObjects = 24;
constexpr unsigned kMaxPoints = 24;
constexpr unsigned kMaxTriangles = 32;
constexpr int kMaxOps = 256;

// A delegate that only counts, handed to some builds.
class CountingDelegate : public CtvxProgressDelegate {
public:
    void didMakeCollisionEntity(boost::shared_ptr<CtvxObject> const&, unsigned int) override { ++calls; }
    void didBuildNode(unsigned int) override { ++calls; }
    void willBuildTree(unsigned int) override { ++calls; }
    void resetProgress(unsigned int) override { ++calls; }
    unsigned long calls = 0;
};

class SceneProgram {
public:
    explicit SceneProgram(FuzzInput& in) : m_in(in)
    {
        m_lists[0] = CtvxCollisionList::create();
        m_lists[1] = CtvxCollisionList::create();
        newAnalysis(false);
    }

    void run()
    {
        for (int op = 0; op < kMaxOps && !m_in.exhausted(); ++op) {
            auto const code = static_cast<tvxfuzz::SceneOp>(m_in.below(tvxfuzz::OpCount));
            if (m_trace)
                std::fprintf(stderr, "op %d: %s, %zu objects%s\n", op, tvxfuzz::kSceneOpNames[code],
                             m_objects.size(), m_ordinary ? "" : " (a hostile value used)");
            step(code);
        }
    }

private:
    // ---- values ------------------------------------------------------------

    // A coordinate: mostly a multiple of 1/16 in [-8, 8); else raw bits.
    float coordinate()
    {
        if (m_in.u8() < 224)
            return static_cast<float>(static_cast<std::int8_t>(m_in.u8())) / 16.0f;
        return hostile(m_in.raw<float>());
    }

    // Three coordinates, read in order.
    CqarPoint3 point()
    {
        double const x = coordinate();
        double const y = coordinate();
        double const z = coordinate();
        return CqarPoint3(x, y, z);
    }

    // A non-negative amount (tolerance, scale factor): a multiple of 1/32 in
    // [0, 8); else raw bits.
    double amount()
    {
        if (m_in.u8() < 224)
            return m_in.u8() / 32.0;
        return hostile(m_in.raw<double>());
    }

    template <typename T>
    T hostile(T v)
    {
        m_ordinary = false;
        return v;
    }

    // A placement: a rotation from a quaternion of small integers and a
    // translation; else the same scaled (not rigid), or twelve raw doubles.
    CqarMat4 placement()
    {
        std::uint8_t const mode = m_in.u8();
        CqarMat4 m;
        if (mode >= 240) {
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 4; ++c)
                    m(r, c) = m_in.raw<double>();
            m_ordinary = false;
            return m;
        }
        double q[4];
        double norm = 0.0;
        for (double& v : q) {
            v = static_cast<std::int8_t>(m_in.u8());
            norm += v * v;
        }
        if (norm > 0.0) {
            norm = std::sqrt(norm);
            double const w = q[0] / norm, x = q[1] / norm, y = q[2] / norm, z = q[3] / norm;
            double const r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                                    {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                                    {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
            double const s = mode >= 208 ? hostile(amount() - 4.0) : 1.0;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    m(i, j) = s * r[i][j];
        }
        CqarPoint3 const t = point();
        m.setColumn(4, t[0], t[1], t[2], 1.0);
        return m;
    }

    // ---- picking ---------------------------------------------------------------

    ObjectPtr anyObject()
    {
        if (m_objects.empty())
            return ObjectPtr();
        unsigned const pick = m_in.below(static_cast<unsigned>(m_objects.size()));
        if (m_trace)
            std::fprintf(stderr, "  object %u\n", pick);
        return m_objects[pick];
    }

    template <typename T>
    boost::shared_ptr<T> some()
    {
        std::vector<boost::shared_ptr<T>> found;
        for (ObjectPtr const& o : m_objects)
            if (boost::shared_ptr<T> t = boost::dynamic_pointer_cast<T>(o))
                found.push_back(t);
        if (found.empty())
            return boost::shared_ptr<T>();
        return found[m_in.below(static_cast<unsigned>(found.size()))];
    }

    void keep(ObjectPtr const& o)
    {
        if (m_objects.size() < kMaxObjects)
            m_objects.push_back(o);
    }

    boost::shared_ptr<CtvxProgressDelegate> delegate()
    {
        if (m_in.u8() & 1)
            return m_delegate;
        return boost::shared_ptr<CtvxProgressDelegate>();
    }

    // ---- operations ------------------------------------------------------------

    void fill(CtvxPolyhedron& p)
    {
        unsigned const base = p.countPoints();
        unsigned const points = m_in.below(kMaxPoints + 1);
        unsigned const triangles = m_in.below(kMaxTriangles + 1);
        unsigned rank = 0;
        for (unsigned i = 0; i < points; ++i) {
            CqarPoint3 const q = point();
            p.addPoint(static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2]), rank);
        }
        unsigned const count = base + points;
        for (unsigned t = 0; t < triangles; ++t) {
            unsigned idx[3];
            for (unsigned& v : idx) {
                std::uint8_t const b = m_in.u8();
                if (b < 248 || count == 0)
                    v = count == 0 ? 0u : b % count;
                else
                    v = hostile(m_in.raw<std::uint32_t>() | count); // at or past the end
            }
            if (count == 0)
                m_ordinary = false; // a triangle before any point
            p.addTriangle(idx[0], idx[1], idx[2], rank);
            if (m_trace)
                std::fprintf(stderr, "  triangle %u: %u %u %u of %u points\n", rank, idx[0], idx[1], idx[2], count);
        }
    }

    void newAnalysis(bool swapped)
    {
        m_analysis = CtvxAnalysis::create();
        m_analysis->setCollisionList1(m_lists[swapped ? 1 : 0]);
        m_analysis->setCollisionList2(m_lists[swapped ? 0 : 1]);
    }

    void step(tvxfuzz::SceneOp op)
    {
        switch (op) {
        case tvxfuzz::OpPolyhedron: {
            boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create();
            fill(*p);
            keep(p);
            break;
        }
        case tvxfuzz::OpSharedPolyhedron:
            if (boost::shared_ptr<CtvxPolyhedron> p = some<CtvxPolyhedron>()) {
                boost::shared_ptr<CtvxPolyhedronData> data = p->polyData();
                if (data)
                    keep(CtvxPolyhedron::create(data));
            }
            break;
        case tvxfuzz::OpGrow:
            if (boost::shared_ptr<CtvxPolyhedron> p = some<CtvxPolyhedron>())
                fill(*p);
            break;
        case tvxfuzz::OpAssembly:
            keep(CtvxAssembly::create());
            break;
        case tvxfuzz::OpAttach: {
            boost::shared_ptr<CtvxAssembly> a = some<CtvxAssembly>();
            ObjectPtr o = anyObject();
            int const rank = static_cast<std::int8_t>(m_in.u8());
            if (a && o)
                a->attach(o, rank < -1 ? -1 : rank);
            break;
        }
        case tvxfuzz::OpDetach:
            if (boost::shared_ptr<CtvxAssembly> a = some<CtvxAssembly>()) {
                if (a->countChildren() > 0) {
                    ObjectPtr child = a->child(m_in.below(a->countChildren()));
                    unsigned rank = 0;
                    a->detach(child, rank);
                }
            }
            break;
        case tvxfuzz::OpPlace:
            if (ObjectPtr o = anyObject()) {
                bool const relative = (m_in.u8() & 1) == 0;
                CqarMat4 const m = placement();
                if (relative)
                    o->relativePosition(m);
                else
                    o->absolutePosition(m);
            }
            break;
        case tvxfuzz::OpTolerance:
            if (ObjectPtr o = anyObject())
                o->setTolerance(amount());
            break;
        case tvxfuzz::OpActivation:
            if (ObjectPtr o = anyObject())
                o->activation((m_in.u8() & 1) == 0);
            break;
        case tvxfuzz::OpEntity:
            if (ObjectPtr o = anyObject()) {
                boost::shared_ptr<CtvxProgressDelegate> d = delegate();
                o->makeCollisionEntity(d);
            }
            break;
        case tvxfuzz::OpRemoveEntity:
            if (ObjectPtr o = anyObject())
                o->removeCollisionEntities();
            break;
        case tvxfuzz::OpScale:
            if (ObjectPtr o = anyObject()) {
                CqarPoint3 centre = point();
                double factor = amount();
                if (factor == 0.0)
                    factor = hostile(factor);
                o->scale(centre, factor);
            }
            break;
        case tvxfuzz::OpTransform:
            if (ObjectPtr o = anyObject())
                o->transform(placement());
            break;
        case tvxfuzz::OpUnlock:
            if (ObjectPtr o = anyObject()) {
                boost::shared_ptr<CtvxProgressDelegate> d = delegate();
                o->unlock(d, (m_in.u8() & 1) != 0);
            }
            break;
        case tvxfuzz::OpList: {
            std::uint8_t const how = m_in.u8();
            ObjectPtr o = anyObject();
            if (!o)
                break;
            CtvxCollisionList& list = *m_lists[how & 1];
            if (how & 2)
                list.remove(o);
            else
                list.add(o);
            break;
        }
        case tvxfuzz::OpComplement: {
            std::uint8_t const which = m_in.u8() & 1;
            if (ObjectPtr root = anyObject())
                m_lists[which]->computeComplementary(root, m_lists[1 - which], (m_in.u8() & 1) != 0);
            break;
        }
        case tvxfuzz::OpQuery:
            query(static_cast<CtvxAnalysis::EAnalysisType>(m_in.below(4)));
            break;
        case tvxfuzz::OpCrossCheck:
            crossCheck();
            break;
        case tvxfuzz::OpDrop:
            if (!m_objects.empty())
                m_objects.erase(m_objects.begin() + m_in.below(static_cast<unsigned>(m_objects.size())));
            break;
        case tvxfuzz::OpNewAnalysis:
            newAnalysis((m_in.u8() & 1) != 0);
            break;
        case tvxfuzz::OpCount:
            break;
        }
    }

    // ---- queries ---------------------------------------------------------------

    struct Answer {
        bool contact = false;
        bool distance = false;
        float clearance = 0.0f;
    };

    Answer query(CtvxAnalysis::EAnalysisType type)
    {
        m_analysis->setAnalysisType(type);
        m_analysis->compute();
        Answer answer;
        answer.contact = m_analysis->countCollisions() > 0;
        for (unsigned i = 0; i < m_analysis->countCollisions(); ++i) {
            boost::shared_ptr<CtvxCollision> c;
            m_analysis->getCollision(i, c);
            ObjectPtr o1, o2;
            c->getObject1(o1);
            c->getObject2(o2);
            for (unsigned k = 0; k < c->countPairs(); ++k) {
                boost::shared_ptr<CtvxGeometrySubElement> first, second;
                c->getFirst(k, first);
                c->getSecond(k, second);
                readTriangle(first);
                readTriangle(second);
            }
        }
        for (unsigned i = 0; i < m_analysis->countDistances(); ++i) {
            boost::shared_ptr<CtvxDistance> d;
            m_analysis->getDistance(i, d);
            if (i == 0) {
                answer.distance = true;
                answer.clearance = d->distance();
            }
            boost::shared_ptr<CtvxGeometryPoint> p1, p2;
            CqarPoint3 p;
            if (d->getClosestPoint1(p1) == 0)
                p1->pointAbsolute(p);
            if (d->getClosestPoint2(p2) == 0)
                p2->pointRelative(p);
        }
        return answer;
    }

    static void readTriangle(boost::shared_ptr<CtvxGeometrySubElement> const& e)
    {
        boost::shared_ptr<CtvxPolyhedronTriangle> t = boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(e);
        if (!t)
            broken("a contact names something other than a triangle");
        boost::shared_ptr<CtvxVirtualPolyhedron> p;
        int rank = -1;
        if (t->getPolyhedron(p) != 0 || t->getTriangle(rank) != 0)
            return; // the polyhedron is gone
        if (rank < 0 || static_cast<unsigned>(rank) >= p->countTriangles())
            broken("a contact names a triangle the polyhedron does not have");
        CqarPoint3 a, b, c;
        t->getTriangleAbsolute(a, b, c);
    }

    void crossCheck()
    {
        // A polyhedron that is not a collision entity gets its tree from the
        // first query that needs its box, and its answers change from that
        // query to the next: compared only where every listed object is one.
        bool entities = true;
        for (boost::shared_ptr<CtvxCollisionList> const& list : m_lists)
            for (unsigned i = 0; i < list->countObjects(); ++i)
                entities = entities && list->object(i)->areCollisionEntitiesMade();
        Answer const first = query(CtvxAnalysis::FIRST_COLLISION);
        Answer const all = query(CtvxAnalysis::ALL_COLLISIONS);
        Answer const exact = query(CtvxAnalysis::EXACT_DISTANCE);
        Answer const estimated = query(CtvxAnalysis::ESTIMATED_DISTANCE);
        if (!m_ordinary || !entities)
            return;
        if (first.contact != all.contact)
            broken("the first-contact and all-contacts queries disagree");
        // The estimate is a lower bound of the clearance. Both are worked out
        // in single precision over world coordinates below m, where a few
        // dozen roundings of 2^-24 m each stay well below 1e-4 m.
        if (exact.distance && !exact.contact && estimated.distance && !estimated.contact) {
            double m = 1.0;
            for (boost::shared_ptr<CtvxCollisionList> const& list : m_lists)
                for (unsigned i = 0; i < list->countObjects(); ++i)
                    m = std::max(m, worldBound(list->object(i)));
            if (estimated.clearance > exact.clearance + 1e-4 * m)
                broken("the estimated clearance exceeds the exact one");
        }
    }

    // A bound of the world coordinates of the geometry below o, whose
    // placements are rigid: the largest stored point plus every translation
    // on the way (wherever a regrouping stored the points, this bounds them).
    static double worldBound(ObjectPtr const& o)
    {
        CqarMat4 relative;
        o->getRelativePosition(relative);
        double bound = std::sqrt(relative(0, 3) * relative(0, 3) + relative(1, 3) * relative(1, 3) +
                                 relative(2, 3) * relative(2, 3));
        boost::shared_ptr<CtvxAssembly> parent;
        for (ObjectPtr up = o; up->getParent(parent) == 0; up = parent) {
            parent->getRelativePosition(relative);
            bound += std::sqrt(relative(0, 3) * relative(0, 3) + relative(1, 3) * relative(1, 3) +
                               relative(2, 3) * relative(2, 3));
        }
        return bound + localBound(o);
    }

    static double localBound(ObjectPtr const& o)
    {
        double bound = 0.0;
        if (boost::shared_ptr<CtvxPolyhedron> p = boost::dynamic_pointer_cast<CtvxPolyhedron>(o)) {
            for (unsigned i = 0; i < p->countPoints(); ++i) {
                CqarPoint3 q;
                p->getPoint(i, q);
                bound = std::max(bound, q.norm());
            }
        } else if (boost::shared_ptr<CtvxAssembly> a = boost::dynamic_pointer_cast<CtvxAssembly>(o)) {
            for (unsigned i = 0; i < a->countChildren(); ++i) {
                ObjectPtr const child = a->child(i);
                CqarMat4 relative;
                child->getRelativePosition(relative);
                bound = std::max(bound, std::sqrt(relative(0, 3) * relative(0, 3) + relative(1, 3) * relative(1, 3) +
                                                  relative(2, 3) * relative(2, 3)) +
                                            localBound(child));
            }
        }
        return bound;
    }

    FuzzInput& m_in;
    std::vector<ObjectPtr> m_objects;
    boost::shared_ptr<CtvxCollisionList> m_lists[2];
    boost::shared_ptr<CtvxAnalysis> m_analysis;
    boost::shared_ptr<CtvxProgressDelegate> m_delegate = boost::shared_ptr<CtvxProgressDelegate>(new CountingDelegate);
    // No hostile value used yet: the answers must agree.
    bool m_ordinary = true;
    // TVX_FUZZ_TRACE set: each operation is written to standard error, to
    // read what a finding did.
    bool const m_trace = std::getenv("TVX_FUZZ_TRACE") != nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    FuzzInput in(data, size);
    SceneProgram program(in);
    program.run();
    // The process-wide log would grow from input to input.
    CqarLogManager::clear();
    return 0;
}
