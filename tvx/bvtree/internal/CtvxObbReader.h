#pragma once

#include <tvx/bvtree/CtvxHalf.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/math/CtvxMat4.h>

#include <cstdint>
#include <cstring>

// Inline reads of a box's stored values. The tree descent decodes a box for
// nearly every pair it visits, so these must be visible to the compiler where
// the descent is; the box's own getters call the same code, so the two can
// never differ.
struct CtvxObbReader {
    // The box's placement in its set's frame: the rotation of its quaternion
    // and its centre in true lengths (the stored values through the tree's
    // scale, as convertFromScaledFloat reads them), bottom row (0, 0, 0, 1).
    // It maps the box's own frame, where the box is centred at the origin
    // with its edges along the axes, into the set's frame.
    static void placement(CtvxOBB const& box, CtvxPolyhedronOBBTree const& tree, CtvxMat4& out)
    {
        rotation(box, out);
        float x, y, z;
        translation(box, x, y, z);
        out.setColumn(4, tree.convertFromScaledFloat(x), tree.convertFromScaledFloat(y),
                      tree.convertFromScaledFloat(z), 1.0f);
    }

    // The box's half lengths in true lengths.
    static void trueHalfLengths(CtvxOBB const& box, CtvxPolyhedronOBBTree const& tree, float (&half)[3])
    {
        halfLengths(box, half[0], half[1], half[2]);
        for (float& h : half)
            h = tree.convertFromScaledFloat(h);
    }

    static void rotation(CtvxOBB const& box, CtvxMat4& m)
    {
        float const x = CtvxHalf::toFloat(box.m_rotation[0]);
        float const y = CtvxHalf::toFloat(box.m_rotation[1]);
        float const z = CtvxHalf::toFloat(box.m_rotation[2]);
        float const w = CtvxHalf::toFloat(box.m_rotation[3]);
        // Dividing by |q|^2 rather than normalising q first gives the
        // rotation of the unit quaternion q/|q| without a square root.
        float const s = 1.0f / (x * x + y * y + z * z + w * w);
        float const s2 = 2.0f * s;
        m(0, 0) = 1.0f - s2 * (y * y + z * z);
        m(0, 1) = s2 * (x * y - w * z);
        m(0, 2) = s2 * (x * z + w * y);
        m(0, 3) = 0.0f;
        m(1, 0) = s2 * (x * y + w * z);
        m(1, 1) = 1.0f - s2 * (x * x + z * z);
        m(1, 2) = s2 * (y * z - w * x);
        m(1, 3) = 0.0f;
        m(2, 0) = s2 * (x * z - w * y);
        m(2, 1) = s2 * (y * z + w * x);
        m(2, 2) = 1.0f - s2 * (x * x + y * y);
        m(2, 3) = 0.0f;
        m(3, 0) = 0.0f;
        m(3, 1) = 0.0f;
        m(3, 2) = 0.0f;
        m(3, 3) = 1.0f;
    }

    static void translation(CtvxOBB const& box, float& x, float& y, float& z)
    {
        x = CtvxHalf::toFloat(box.m_translation[0]);
        y = CtvxHalf::toFloat(box.m_translation[1]);
        z = CtvxHalf::toFloat(box.m_translation[2]);
    }

    // The ten values every decoding of a box reads, as stored: the
    // quaternion, the centre, the half lengths; with the tree's scale they
    // settle placement(), trueHalfLengths() and size().
    static void storedValues(CtvxOBB const& box, std::uint16_t (&out)[10])
    {
        std::memcpy(out, box.m_rotation, sizeof box.m_rotation);
        std::memcpy(out + 4, box.m_translation, sizeof box.m_translation);
        std::memcpy(out + 7, box.m_obbHalfLengths, sizeof box.m_obbHalfLengths);
    }
    // True when the box holds these stored values, compared in place.
    static bool holdsStoredValues(CtvxOBB const& box, std::uint16_t const (&values)[10])
    {
        return std::memcmp(values, box.m_rotation, sizeof box.m_rotation) == 0 &&
               std::memcmp(values + 4, box.m_translation, sizeof box.m_translation) == 0 &&
               std::memcmp(values + 7, box.m_obbHalfLengths, sizeof box.m_obbHalfLengths) == 0;
    }

    static void halfLengths(CtvxOBB const& box, float& a, float& b, float& c)
    {
        a = CtvxHalf::toFloat(box.m_obbHalfLengths[0]);
        b = CtvxHalf::toFloat(box.m_obbHalfLengths[1]);
        c = CtvxHalf::toFloat(box.m_obbHalfLengths[2]);
    }

    static float size(CtvxOBB const& box)
    {
        float a, b, c;
        halfLengths(box, a, b, c);
        return a + b + c;
    }
};
