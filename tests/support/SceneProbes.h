#pragma once

// Test doubles that open the protected parts of the scene classes (box
// state, stale flags, prioritary children, regrouping) to the tests, and a
// leaf whose enclosing box is set by hand so that the assembly's box
// arithmetic can be checked with exact numbers, independently of how the
// tree builder fits boxes.

#include <tests/support/SceneFixtures.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <boost/shared_ptr.hpp>

namespace tvxtest {

class ProbeAssembly : public CtvxAssembly {
public:
    static boost::shared_ptr<ProbeAssembly> create()
    {
        boost::shared_ptr<ProbeAssembly> a(new ProbeAssembly());
        a->init(a);
        return a;
    }
    using CtvxAssembly::degroup;
    using CtvxAssembly::regroup;
    using CtvxAssembly::scale;
    using CtvxAssembly::transform;
    using CtvxObject::enclosingObb;
    using CtvxObject::isPrioritaryChildRecurse;
    using CtvxObject::needToRecomputeObb;
    using CtvxObject::obbState;

protected:
    ProbeAssembly() = default;
};

class ProbePolyhedron : public CtvxPolyhedron {
public:
    static boost::shared_ptr<ProbePolyhedron> create(boost::shared_ptr<CtvxPolyhedronData> data)
    {
        boost::shared_ptr<ProbePolyhedron> p(new ProbePolyhedron());
        boost::shared_ptr<CtvxPolyhedron> base = p;
        p->init(base, data);
        return p;
    }
    using CtvxObject::enclosingObb;
    using CtvxObject::isPrioritaryChildRecurse;
    using CtvxObject::needToRecomputeObb;
    using CtvxObject::obbState;

protected:
    ProbePolyhedron() = default;
};

// A leaf with a hand-set box (in its own frame, tolerance included) that
// counts how often it is asked to recompute it.
class FixedBoxLeaf : public CtvxPolyhedron {
public:
    static boost::shared_ptr<FixedBoxLeaf> create(CqarMat4 const& box, float hx, float hy, float hz)
    {
        boost::shared_ptr<FixedBoxLeaf> p(new FixedBoxLeaf());
        boost::shared_ptr<CtvxPolyhedron> base = p;
        p->init(base, CtvxPolyhedronData::create());
        p->m_box = box;
        p->m_h[0] = hx;
        p->m_h[1] = hy;
        p->m_h[2] = hz;
        return p;
    }
    void computeObb() override
    {
        ++computeCount;
        if (activation() == ACTIVATED) {
            obbState(OBB_COMPUTED);
            enclosingObb()->relativePosition(m_box);
            enclosingObb()->halfLengths(m_h[0], m_h[1], m_h[2]);
        } else {
            obbState(OBB_NONE);
        }
        needToRecomputeObb(false);
    }
    using CtvxObject::needToRecomputeObb;
    using CtvxObject::obbState;
    int computeCount = 0;

protected:
    FixedBoxLeaf() = default;

private:
    CqarMat4 m_box;
    float m_h[3] = {0, 0, 0};
};

} // namespace tvxtest
