#pragma once

#include <tvx/tvxExport.h>

#include <qar/CqarMat4.h>

class CtvxOBB;

// An enclosing box: a double-precision placement in its owner's frame
// (rotation columns are the box axes, the translation is the centre) and
// three float half lengths along those axes.
//
// Every scene object owns one, and every triangle set owns one made from the
// root of its OBB tree in true lengths. The analysis compares such boxes
// before descending into assemblies or trees, and size() (the sum of the
// half lengths) to choose which side to descend first. A default-constructed
// box is the identity placement with zero half lengths until something sets
// it.
class TVX_API CtvxObjectOBB {
public:
    CtvxObjectOBB();
    // The box of a tree node stored at scale s: the node's quaternion is
    // normalised, its centre and half lengths divided by s.
    CtvxObjectOBB(CtvxOBB& obb, double scale);
    CtvxObjectOBB(CtvxObjectOBB const&) = default;
    CtvxObjectOBB& operator=(CtvxObjectOBB const&) = default;
    ~CtvxObjectOBB() = default;

    void relativePosition(CqarMat4 const& position) { m_relativePosition = position; }
    void getRelativePosition(CqarMat4& position) const { position = m_relativePosition; }
    CqarMat4 const& relativePosition() const { return m_relativePosition; }
    void halfLengths(float x, float y, float z);
    void getHalfLengths(float& x, float& y, float& z) const;
    float size() const;

private:
    void invariant() const {}

    CqarMat4 m_relativePosition;
    float m_halfLengths[3];
};
