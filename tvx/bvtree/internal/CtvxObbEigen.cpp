#include <tvx/bvtree/internal/CtvxObbEigen.h>

#include <tvx/bvtree/internal/CtvxLanes.h>

#include <cmath>

using tvx_lanes::Double2;
using tvx_lanes::Float4;
using tvx_lanes::Mask4;

namespace {

// Off-diagonal mass below which the matrix counts as diagonal (compared in
// double, so that it does not depend on how sm rounds near the limit).
double const kJacobiStop = 1e-5;
int const kJacobiSweeps = 50;

// (x, y) -> (x - s (y + x tau), y + s (x - y tau)) where m is set: the
// rotation of a pair of entries by the angle whose sine is s, with
// tau = s / (1 + cos) keeping the update accurate for small angles.
inline void rotatePair(Float4& x, Float4& y, Float4 s, Float4 tau, Mask4 m)
{
    Float4 const g = x;
    Float4 const h = y;
    x = select(m, g - s * (h + g * tau), x);
    y = select(m, h + s * (g - h * tau), y);
}

// 1 / (|theta| + sqrt(1 + theta^2)) in double, narrowed: the tangent of the
// rotation angle for a large cotangent theta, without overflow of theta^2
// in the sum.
inline Float4 tangentOfLarge(Float4 absTheta, Float4 theta2)
{
    Double2 const one = Double2::broadcast(1.0);
    Double2 const low = one / (widenLow(absTheta) + sqrt(one + widenLow(theta2)));
    Double2 const high = one / (widenHigh(absTheta) + sqrt(one + widenHigh(theta2)));
    return narrow(low, high);
}

} // namespace

void CtvxObbEigen::solve(CtvxEigenProblem* problems, int n, bool scaleFree)
{
    // Lane i holds problem i; unused lanes hold a zero matrix, which stops
    // at once.
    float in[3][4] = {{0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}};
    float diag[3][4] = {{0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}};
    int laneBits = 0;
    // Each lane's stop; the scale-free one from its starting diagonal.
    double stops[4] = {kJacobiStop, kJacobiStop, kJacobiStop, kJacobiStop};
    for (int i = 0; i < n; ++i) {
        if (scaleFree) {
            double const diagonal = std::fabs(static_cast<double>(problems[i].a[0][0])) +
                                    std::fabs(static_cast<double>(problems[i].a[1][1])) +
                                    std::fabs(static_cast<double>(problems[i].a[2][2]));
            stops[i] = kJacobiStop * (diagonal < 1.0 ? diagonal : 1.0);
        }
        in[0][i] = problems[i].a[0][1];
        in[1][i] = problems[i].a[0][2];
        in[2][i] = problems[i].a[1][2];
        for (int k = 0; k < 3; ++k)
            diag[k][i] = problems[i].a[k][k];
        problems[i].sweeps = -1;
        laneBits |= 1 << i;
    }
    // The off-diagonal entries a01, a02, a12; d the diagonal as rotated, b
    // the diagonal at the start of the sweep and z its change during the
    // sweep (the sweep adds z to b at its end, which loses less than
    // updating d alone); v the accumulated rotation, from the identity.
    Float4 off[3] = {Float4::load(in[0]), Float4::load(in[1]), Float4::load(in[2])};
    Float4 d[3], b[3], z[3];
    for (int k = 0; k < 3; ++k) {
        d[k] = b[k] = Float4::load(diag[k]);
        z[k] = Float4::broadcast(0.0f);
    }
    Float4 v[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            v[r][c] = Float4::broadcast(r == c ? 1.0f : 0.0f);

    // The pairs (p, q) in sweep order, the entry each rotates away, and the
    // two other entries its rotation mixes: (a02, a12) for (0, 1),
    // (a01, a12) for (0, 2), (a01, a02) for (1, 2).
    int const pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    int const otherX[3] = {1, 0, 0};
    int const otherY[3] = {2, 2, 1};
    Float4 const one = Float4::broadcast(1.0f);
    for (int sweep = 0; sweep < kJacobiSweeps && laneBits != 0; ++sweep) {
        Float4 const sm = abs(off[0]) + abs(off[1]) + abs(off[2]);
        int stopped;
        if (scaleFree) {
            // At most the stop, so that a zero scatter stops at once too;
            // for the fixed stop, which no float equals, the same as below.
            float lanes[4];
            sm.store(lanes);
            stopped = 0;
            for (int i = 0; i < 4; ++i)
                if (static_cast<double>(lanes[i]) <= stops[i])
                    stopped |= 1 << i;
        } else {
            Double2 const stop = Double2::broadcast(kJacobiStop);
            stopped = lessBits(widenLow(sm), stop) | (lessBits(widenHigh(sm), stop) << 2);
        }
        for (int i = 0; i < n; ++i)
            if ((stopped & laneBits) & (1 << i))
                problems[i].sweeps = sweep;
        laneBits &= ~stopped;
        if (laneBits == 0)
            break;
        Mask4 const on = Mask4::lanes(laneBits);
        // Early sweeps only rotate away the large entries (sm / 45 each).
        Float4 const threshold = sweep < 3 ? Float4::broadcast(0.2f) * sm * Float4::broadcast(0.11111111f)
                                           : Float4::broadcast(0.0f);
        for (int pair = 0; pair < 3; ++pair) {
            int const p = pairs[pair][0];
            int const q = pairs[pair][1];
            Float4& apq = off[pair];
            Float4 const absA = abs(apq);
            Float4 const g = Float4::broadcast(100.0f) * absA;
            // From sweep 4 on, an entry negligible against both diagonal
            // entries is set to zero without a rotation.
            Float4 const absDp = abs(d[p]);
            Float4 const absDq = abs(d[q]);
            Mask4 negligible = sweep > 3 ? ((absDp + g == absDp) & (absDq + g == absDq)) & on : Mask4::none();
            Mask4 const rotate = andNot(on & (absA > threshold), negligible);

            // t = tan of the rotation angle, from the cotangent of twice it:
            // a01 / h when h = d[q] - d[p] dwarfs the entry, else from
            // theta = h / (2 a[p][q]), with the sign of theta (flipped as a
            // bit: a NaN theta keeps its t).
            Float4 h = d[q] - d[p];
            Float4 const absH = abs(h);
            Mask4 const small = absH + g == absH;
            Float4 const theta = Float4::broadcast(0.5f) * h / apq;
            Float4 const tLarge =
                negateWhere(theta < Float4::broadcast(0.0f), tangentOfLarge(abs(theta), theta * theta));
            Float4 const t = select(small, apq / h, tLarge);
            Float4 const c = one / sqrt(one + t * t);
            Float4 const s = t * c;
            Float4 const tau = s / (one + c);
            h = t * apq;
            z[p] = select(rotate, z[p] - h, z[p]);
            z[q] = select(rotate, z[q] + h, z[q]);
            d[p] = select(rotate, d[p] - h, d[p]);
            d[q] = select(rotate, d[q] + h, d[q]);
            apq = zeroWhere(rotate | negligible, apq);
            rotatePair(off[otherX[pair]], off[otherY[pair]], s, tau, rotate);
            for (int j = 0; j < 3; ++j)
                rotatePair(v[j][p], v[j][q], s, tau, rotate);
        }
        for (int k = 0; k < 3; ++k) {
            b[k] = select(on, b[k] + z[k], b[k]);
            d[k] = select(on, b[k], d[k]);
            z[k] = select(on, Float4::broadcast(0.0f), z[k]);
        }
    }

    // off[k] is the entry (row[k], col[k]).
    int const row[3] = {0, 0, 1};
    int const col[3] = {1, 2, 2};
    float out[4];
    for (int k = 0; k < 3; ++k) {
        off[k].store(out);
        for (int i = 0; i < n; ++i)
            problems[i].a[row[k]][col[k]] = out[i];
        d[k].store(out);
        for (int i = 0; i < n; ++i)
            problems[i].d[k] = out[i];
    }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            v[r][c].store(out);
            for (int i = 0; i < n; ++i)
                problems[i].v[r][c] = out[i];
        }
}

void CtvxObbEigen::axesFromEigen(float const* d, float const (*v)[3], float (*axes)[3])
{
    int h = d[0] > d[1] ? 0 : 1;
    int const o = 1 - h;
    int l;
    if (d[2] >= d[o]) {
        if (d[2] > d[h]) {
            l = h;
            h = 2;
        } else {
            l = 2;
        }
    } else {
        l = o;
    }
    float const a0[3] = {v[0][h], v[1][h], v[2][h]};
    float const a1[3] = {v[0][l], v[1][l], v[2][l]};
    float const a2[3] = {a0[1] * a1[2] - a0[2] * a1[1], a0[2] * a1[0] - a0[0] * a1[2], a0[0] * a1[1] - a0[1] * a1[0]};
    for (int i = 0; i < 3; ++i) {
        axes[i][0] = a0[i];
        axes[i][1] = a1[i];
        axes[i][2] = a2[i];
    }
}
