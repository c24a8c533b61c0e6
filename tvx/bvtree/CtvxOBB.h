#pragma once

#include <tvx/bvtree/CtvxTrianglesBoundingVolume.h>

#include <cstdint>

class CqarQuatF;
class CtvxMat4;
struct CtvxObbReader;

// A box of an OBB tree: two child codes and ten binary16 values, 28 bytes.
//
// The values are the box's orientation as a quaternion (x, y, z, w), its
// centre and its three half lengths along its own axes. Centre and
// orientation are given in the frame of the triangle set, not relative to
// the parent box, so any box can be tested on its own. Centre and half
// lengths are stored multiplied by the tree's scale (see
// CtvxPolyhedronOBBTree, which converts); the quaternion is stored as is and
// is only nearly unit length after rounding, so the getters normalise it.
// Setters round to binary16, getters read back exactly.
class TVX_API CtvxOBB : public CtvxTrianglesBoundingVolume {
public:
    CtvxOBB() {}
    CtvxOBB(CtvxOBB const&) = default;
    CtvxOBB& operator=(CtvxOBB const&) = default;
    ~CtvxOBB() = default;

    void relativeRotation(CqarQuatF const& q);
    void relativeTranslation(float x, float y, float z);
    void halfLengths(float a, float b, float c);

    // The stored quaternion divided by its norm.
    void getRelativeRotation(float& x, float& y, float& z, float& w) const;
    // The rotation matrix of the stored quaternion, normalised through
    // s = 1 / |q|^2; zero translation, bottom row (0, 0, 0, 1).
    void getRelativeRotation(CtvxMat4& m) const;
    // Stored (scaled) values.
    void getRelativeTranslations(float& x, float& y, float& z) const;
    void getHalfLengths(float& a, float& b, float& c) const;
    // Sum of the three stored half lengths.
    float size() const;

private:
    // The builder's rounding mend rounds half lengths upwards in place, and
    // the enclosing box record reads the raw quaternion; both work on the
    // stored patterns.
    friend class CtvxObbRoundingMend;
    friend class CtvxObjectOBB;
    friend struct CtvxObbReader;

    std::uint16_t m_rotation[4];
    std::uint16_t m_translation[3];
    std::uint16_t m_obbHalfLengths[3];
};

static_assert(sizeof(CtvxOBB) == 28, "a box is two 32-bit codes and ten binary16 values");
