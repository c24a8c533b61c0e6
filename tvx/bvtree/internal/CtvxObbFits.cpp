#include <tvx/bvtree/internal/CtvxObbFits.h>

#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/internal/CtvxObbEigen.h>

#include <qar/CqarMat4.h>
#include <qar/CqarQuatF.h>
#include <qar/CqarVect3.h>

#include <algorithm>
#include <cmath>

namespace {

// Largest finite binary16 value: the root's reach is mapped to half of it.
double const kHalfMax = 65504.0;

// Triangle axes: below this 1-norm the cross product of two unit edges is
// taken as zero (a needle-like triangle) and another normal is chosen.
double const kNeedleNormal = 1e-5;

CqarMat4 matrixOf(float const (*axes)[3])
{
    CqarMat4 M;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            M(i, k) = static_cast<double>(axes[i][k]);
    return M;
}

void crossd(double const* a, double const* b, double* out)
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

bool isZero(double const* x) { return x[0] == 0.0 && x[1] == 0.0 && x[2] == 0.0; }
double norm2(double const* x) { return x[0] * x[0] + x[1] * x[1] + x[2] * x[2]; }
double norm1(double const* x) { return std::fabs(x[0]) + std::fabs(x[1]) + std::fabs(x[2]); }

} // namespace

void CtvxObbFits::principalAxes(CtvxObbBuildSet const& set, CtvxObbPart* const* parts, int n, bool scaleFree)
{
    CtvxEigenProblem problems[CtvxObbEigen::kMaxProblems];
    for (int i = 0; i < n; ++i)
        CtvxObbRangePasses::scatter(set, parts[i]->first, parts[i]->count, parts[i]->bounds, problems[i].a);
    CtvxObbEigen::solve(problems, n, scaleFree);
    for (int i = 0; i < n; ++i) {
        CtvxObbEigen::axesFromEigen(problems[i].d, problems[i].v, parts[i]->axes);
        parts[i]->hasAxes = true;
    }
}

void CtvxObbFits::boxFromAxes(float const (*axes)[3], float const (*dims)[3], bool fixScale, float& storedScale,
                              CtvxOBB& box, CqarVect3& axis, double& splitValue)
{
    CqarMat4 const M = matrixOf(axes);
    float const c[3] = {(dims[0][0] + dims[1][0]) * 0.5f, (dims[0][1] + dims[1][1]) * 0.5f,
                        (dims[0][2] + dims[1][2]) * 0.5f};
    CqarPoint3 const C = M * CqarPoint3(c[0], c[1], c[2]);

    if (fixScale) {
        float m = 0.0f;
        double w = 0.0;
        for (int k = 0; k < 3; ++k) {
            m = std::max(m, (dims[1][k] - dims[0][k]) * 0.5f);
            w = std::max(w, std::fabs(C[k]));
        }
        storedScale = static_cast<float>(kHalfMax / ((w + static_cast<double>(m)) * 2.0));
    }
    float const sigma = storedScale <= 1.0f ? storedScale : 1.0f;

    // 0.505: the exact half extent enlarged by 1 %.
    box.halfLengths(((dims[1][0] - dims[0][0]) * 0.505f) * sigma, ((dims[1][1] - dims[0][1]) * 0.505f) * sigma,
                    ((dims[1][2] - dims[0][2]) * 0.505f) * sigma);
    box.relativeRotation(CqarQuatF(M));
    axis.setValue(axes[0][0], axes[1][0], axes[2][0]);
    splitValue = axis.scalarProduct(C);
    box.relativeTranslation(static_cast<float>(C[0]) * sigma, static_cast<float>(C[1]) * sigma,
                            static_cast<float>(C[2]) * sigma);
}

void CtvxObbFits::axisAlignedBox(CtvxObbBounds const& b, CtvxOBB& box, CqarVect3& axis, double& splitValue)
{
    float const* lo = b.lo;
    float const* hi = b.hi;
    float const e[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};

    box.halfLengths(e[0] * 0.5f, e[1] * 0.5f, e[2] * 0.5f);
    box.relativeTranslation((lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f);
    // A half-turn about x: the box axes are the poly's axes up to sign.
    box.relativeRotation(CqarQuatF(0.0f, 1.0f, 0.0f, 0.0f));

    float cx, cy, cz;
    box.getRelativeTranslations(cx, cy, cz);
    if (e[0] > e[1] && e[0] > e[2]) {
        axis.setValue(1.0, 0.0, 0.0);
        splitValue = cx;
    } else if (e[2] > e[1]) {
        axis.setValue(0.0, 0.0, 1.0);
        splitValue = cz;
    } else {
        axis.setValue(0.0, 1.0, 0.0);
        splitValue = cy;
    }
}

void CtvxObbFits::triangleAxes(CqarPoint3 const* p, float (*axes)[3])
{
    double u[3], v[3], w[3];
    for (int k = 0; k < 3; ++k) {
        u[k] = p[1][k] - p[0][k];
        v[k] = p[2][k] - p[0][k];
        w[k] = p[1][k] - p[2][k];
    }
    if (isZero(u))
        std::copy(w, w + 3, u);
    else if (isZero(v))
        std::copy(w, w + 3, v);
    if (isZero(u) && isZero(v) && isZero(w)) {
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k)
                axes[i][k] = i == k ? 1.0f : 0.0f;
        return;
    }
    // The longest edge becomes the first axis.
    if (norm2(w) > norm2(u) && norm2(w) > norm2(v))
        std::copy(w, w + 3, u);
    else if (norm2(v) > norm2(u))
        std::swap(u, v);
    double const nu = std::sqrt(norm2(u));
    double const nv = std::sqrt(norm2(v));
    for (int k = 0; k < 3; ++k) {
        u[k] /= nu;
        if (nv > 0.0)
            v[k] /= nv;
    }
    double n[3];
    crossd(u, v, n);
    if (norm1(n) < kNeedleNormal) {
        double const ex[3] = {1.0, 0.0, 0.0};
        crossd(u, ex, n);
        if (norm1(n) < kNeedleNormal) {
            double const ey[3] = {0.0, 1.0, 0.0};
            crossd(u, ey, n);
        }
    }
    double const nn = std::sqrt(norm2(n));
    for (int k = 0; k < 3; ++k)
        n[k] /= nn;
    double a1[3];
    crossd(u, n, a1);
    for (int i = 0; i < 3; ++i) {
        axes[i][0] = static_cast<float>(u[i]);
        axes[i][1] = static_cast<float>(a1[i]);
        axes[i][2] = static_cast<float>(-n[i]);
    }
}

void CtvxObbFits::oneTriangleBox(CqarPoint3 const* p, CtvxOBB& box)
{
    float axes[3][3];
    triangleAxes(p, axes);
    float lo[3] = {0.0f, 0.0f, 0.0f};
    float hi[3] = {0.0f, 0.0f, 0.0f};
    for (int j = 0; j < 3; ++j) {
        float const x = static_cast<float>(p[j][0]);
        float const y = static_cast<float>(p[j][1]);
        float const z = static_cast<float>(p[j][2]);
        for (int k = 0; k < 3; ++k) {
            float const proj = x * axes[0][k] + y * axes[1][k] + z * axes[2][k];
            if (j == 0) {
                lo[k] = hi[k] = proj;
            } else {
                lo[k] = std::min(lo[k], proj);
                hi[k] = std::max(hi[k], proj);
            }
        }
    }
    CqarMat4 const M = matrixOf(axes);
    box.halfLengths((hi[0] - lo[0]) * 0.5f, (hi[1] - lo[1]) * 0.5f, (hi[2] - lo[2]) * 0.5f);
    box.relativeRotation(CqarQuatF(M));
    CqarPoint3 const C = M * CqarPoint3((lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f);
    box.relativeTranslation(static_cast<float>(C[0]), static_cast<float>(C[1]), static_cast<float>(C[2]));
}
