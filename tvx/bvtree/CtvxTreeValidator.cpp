#include <tvx/bvtree/CtvxTreeValidator.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/math/CtvxMat4.h>
#include <tvx/scene/CtvxObjectOBB.h>

#include <qar/CqarMat4.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

namespace {

// A vertex may lie this far outside its box, relative to the box's reach,
// and still count as inside: the rounding of a float kernel that maps it
// into the box frame (a handful of ulps at 2^-24 each).
double const kRelativeTolerance = 1.0 / 4194304.0; // 2^-22

// A decoded box in double: axes are the columns of r.
struct Box {
    double r[3][3];
    double c[3];
    double h[3];
};

// Largest excess of the listed triangles' vertices over the box, or a
// negative value when all are inside by a margin.
double excess(Box const& b, std::vector<double> const& vertices, int const* triangles, int count,
              long long& checked)
{
    double worst = -HUGE_VAL;
    for (int i = 0; i < count; ++i) {
        double const* v = &vertices[static_cast<std::size_t>(triangles[i]) * 9];
        for (int j = 0; j < 3; ++j) {
            double const d0 = v[3 * j] - b.c[0];
            double const d1 = v[3 * j + 1] - b.c[1];
            double const d2 = v[3 * j + 2] - b.c[2];
            for (int k = 0; k < 3; ++k) {
                double const local = b.r[0][k] * d0 + b.r[1][k] * d1 + b.r[2][k] * d2;
                double const e = std::fabs(local) - b.h[k];
                // A NaN anywhere is a failure, never a pass.
                worst = std::isnan(e) ? HUGE_VAL : std::max(worst, e);
            }
            ++checked;
        }
    }
    return worst;
}

double reachOf(Box const& b)
{
    return std::max({std::fabs(b.c[0]), std::fabs(b.c[1]), std::fabs(b.c[2])}) + std::max({b.h[0], b.h[1], b.h[2]});
}

} // namespace

boost::shared_ptr<CtvxTreeValidator> CtvxTreeValidator::create()
{
    boost::shared_ptr<CtvxTreeValidator> validator(new CtvxTreeValidator());
    validator->init(validator);
    return validator;
}

CtvxTreeValidator::CtvxTreeValidator() = default;
CtvxTreeValidator::~CtvxTreeValidator() = default;

void CtvxTreeValidator::init(boost::shared_ptr<CtvxTreeValidator>&) {}

double CtvxTreeValidator::relativeTolerance()
{
    return kRelativeTolerance;
}

int CtvxTreeValidator::validate(boost::shared_ptr<CtvxPoly> const& poly, Report& report) const
{
    report = Report();
    CtvxPolyhedronBVTree* bvTree = nullptr;
    if (!poly || poly->getBoundingVolumes(bvTree) != 0) {
        report.verdict = "no tree";
        return -1;
    }
    CtvxPolyhedronOBBTree const* tree = dynamic_cast<CtvxPolyhedronOBBTree const*>(bvTree);
    if (!tree) {
        report.verdict = "not an OBB tree";
        return -1;
    }

    unsigned int const n = poly->countTriangles();
    std::vector<double> vertices(static_cast<std::size_t>(n) * 9);
    CqarPoint3 p[3];
    for (unsigned int t = 0; t < n; ++t) {
        poly->getTriangle(t, p);
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                vertices[static_cast<std::size_t>(t) * 9 + 3 * j + k] = p[j][k];
    }

    int const boxes = tree->countObbs();
    int const expectedBoxes = n >= 2 ? static_cast<int>(n) - 1 : 0;
    if (boxes != expectedBoxes)
        ++report.shapeErrors;

    // Leaf order of a depth-first walk (first child first): the triangles
    // under any box are then one contiguous run [begin, end) of it.
    enum Kind { ENTER, LEAVE, EMIT };
    struct Item {
        Kind kind;
        int value;
    };
    std::vector<int> order;
    order.reserve(n);
    std::vector<int> begin(static_cast<std::size_t>(boxes), 0), end(static_cast<std::size_t>(boxes), 0);
    std::vector<int> timesCoded(n, 0);
    std::vector<char> visited(static_cast<std::size_t>(boxes), 0);
    if (boxes > 0) {
        std::vector<Item> stack;
        stack.push_back({ENTER, 0});
        while (!stack.empty()) {
            Item const item = stack.back();
            stack.pop_back();
            if (item.kind == EMIT) {
                order.push_back(item.value);
                continue;
            }
            std::size_t const e = static_cast<std::size_t>(item.value);
            if (item.kind == LEAVE) {
                end[e] = static_cast<int>(order.size());
                continue;
            }
            if (visited[e]) {
                ++report.shapeErrors;
                continue;
            }
            visited[e] = 1;
            begin[e] = static_cast<int>(order.size());
            stack.push_back({LEAVE, item.value});
            CtvxOBB const* b = tree->getObb(item.value);
            int const codes[2] = {b->getChild1Rank(), b->getChild2Rank()};
            for (int c = 1; c >= 0; --c) {
                int const code = codes[c];
                if (code > 0) {
                    // Children come after their parent, which also rules out
                    // cycles.
                    if (code <= item.value || code >= boxes)
                        ++report.shapeErrors;
                    else
                        stack.push_back({ENTER, code});
                } else if (static_cast<unsigned int>(-static_cast<long long>(code)) >= n) {
                    ++report.shapeErrors;
                } else {
                    ++timesCoded[static_cast<std::size_t>(-code)];
                    stack.push_back({EMIT, -code});
                }
            }
        }
        for (char v : visited)
            if (!v)
                ++report.shapeErrors;
        for (int c : timesCoded)
            if (c != 1)
                ++report.shapeErrors;
    }

    double const tolerance = kRelativeTolerance;
    auto record = [&](double worst, double reach, int boxRank) -> bool {
        // +inf comes only from a NaN or an infinite centre: such a box holds
        // nothing, whatever its reach.
        bool const failed = !(worst <= tolerance * reach) || worst == HUGE_VAL;
        double const relative = reach > 0.0 ? worst / reach : (worst > 0.0 ? HUGE_VAL : 0.0);
        if (worst > report.worstExcess) {
            report.worstExcess = worst;
            report.worstRelativeExcess = relative;
            report.worstBox = boxRank;
        }
        return failed;
    };

    for (int rank = 0; rank < boxes; ++rank) {
        if (!visited[static_cast<std::size_t>(rank)])
            continue;
        CtvxOBB const* obb = tree->getObb(rank);
        CtvxMat4 R;
        obb->getRelativeRotation(R);
        float cs[3], hs[3];
        obb->getRelativeTranslations(cs[0], cs[1], cs[2]);
        obb->getHalfLengths(hs[0], hs[1], hs[2]);
        Box b;
        for (int i = 0; i < 3; ++i) {
            b.c[i] = static_cast<double>(tree->convertFromScaledFloat(cs[i]));
            b.h[i] = static_cast<double>(tree->convertFromScaledFloat(hs[i]));
            for (int k = 0; k < 3; ++k)
                b.r[i][k] = static_cast<double>(R(i, k));
        }
        int const first = begin[static_cast<std::size_t>(rank)];
        int const count = end[static_cast<std::size_t>(rank)] - first;
        double const worst = excess(b, vertices, order.data() + first, count, report.verticesChecked);
        ++report.boxesChecked;
        if (record(worst, reachOf(b), rank))
            ++report.failures;
    }

    CtvxObjectOBB const* own = poly->polyObb();
    if (n == 0) {
        report.polyObbContains = own == nullptr;
    } else if (!own) {
        report.polyObbContains = false;
    } else {
        CqarMat4 P;
        own->getRelativePosition(P);
        float h[3];
        own->getHalfLengths(h[0], h[1], h[2]);
        Box b;
        for (int i = 0; i < 3; ++i) {
            b.c[i] = P(i, 3);
            b.h[i] = static_cast<double>(h[i]);
            for (int k = 0; k < 3; ++k)
                b.r[i][k] = P(i, k);
        }
        std::vector<int> all(n);
        for (unsigned int t = 0; t < n; ++t)
            all[t] = static_cast<int>(t);
        long long checked = 0;
        double const worst = excess(b, vertices, all.data(), static_cast<int>(n), checked);
        report.polyObbContains = !record(worst, reachOf(b), -1);
    }

    std::ostringstream verdict;
    bool const sound = report.failures == 0 && report.shapeErrors == 0 && report.polyObbContains;
    if (sound) {
        verdict << "sound: " << report.boxesChecked << " boxes hold their triangles";
    } else {
        verdict << "unsound:";
        if (report.failures)
            verdict << " " << report.failures << " of " << report.boxesChecked
                    << " boxes leave vertices outside (worst " << report.worstExcess << ", "
                    << report.worstRelativeExcess << " of the reach, box " << report.worstBox << ")";
        if (report.shapeErrors)
            verdict << " " << report.shapeErrors << " shape errors";
        if (!report.polyObbContains)
            verdict << " the set's own box misses triangles";
    }
    report.verdict = verdict.str();
    return sound ? 0 : -1;
}
