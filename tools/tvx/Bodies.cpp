#include "Bodies.h"

#include "Cli.h"
#include "ProgressBar.h"

#include <tools/import/PolyhedronFromMesh.h>

#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <boost/pointer_cast.hpp>

#include <algorithm>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace tvxcli {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

boost::shared_ptr<CtvxPoly> Body::treeOwner() const
{
    boost::shared_ptr<CtvxAssembly> const assembly = boost::dynamic_pointer_cast<CtvxAssembly>(object);
    if (assembly)
        return assembly->regroupedPoly();
    return boost::dynamic_pointer_cast<CtvxPoly>(object);
}

Body loadBody(std::string const& path, tvxio::ImportOptions const& options)
{
    bool const keepParts = options.keepParts;
    Body body;
    body.path = path;
    tvxio::ImportedMesh mesh;
    std::string error;
    auto const t0 = std::chrono::steady_clock::now();
    if (tvxio::importMesh(path, options, mesh, error) != 0)
        throw InputError(error);
    body.importSeconds = secondsSince(t0);
    if (mesh.countPoints() > std::numeric_limits<unsigned int>::max() ||
        mesh.countTriangles() > std::numeric_limits<unsigned int>::max())
        throw InputError(path + ": more points or triangles than the library can address");
    body.format = mesh.format;
    body.points = mesh.countPoints();
    body.triangles = mesh.countTriangles();
    body.fileVertices = mesh.fileVertices;
    body.droppedPointsAndLines = mesh.droppedPointsAndLines;
    body.droppedDegenerate = mesh.droppedDegenerate;

    for (int k = 0; k < 3; ++k) {
        body.lo[k] = std::numeric_limits<double>::infinity();
        body.hi[k] = -std::numeric_limits<double>::infinity();
    }
    for (tvxio::MeshPart const& part : mesh.parts)
        for (std::size_t i = 0; i < part.points.size(); i += 3)
            for (std::size_t k = 0; k < 3; ++k) {
                body.lo[k] = std::min(body.lo[k], static_cast<double>(part.points[i + k]));
                body.hi[k] = std::max(body.hi[k], static_cast<double>(part.points[i + k]));
            }
    for (tvxio::MeshPart const& part : mesh.parts) {
        body.polyhedra.push_back(tvxio::makePolyhedron(part));
        body.partNames.push_back(part.name);
    }
    if (keepParts) {
        boost::shared_ptr<CtvxAssembly> assembly = CtvxAssembly::create();
        for (boost::shared_ptr<CtvxPolyhedron> const& p : body.polyhedra)
            assembly->attach(p, -1);
        body.object = assembly;
    } else {
        body.object = body.polyhedra.front();
    }
    // The arrays are in the library now; free the imported copy before the
    // tree build needs its memory.
    mesh = tvxio::ImportedMesh();

    unsigned int const n = static_cast<unsigned int>(body.triangles);
    std::string const label = std::filesystem::path(path).filename().string();
    boost::shared_ptr<ProgressBar> bar(new ProgressBar("building tree of " + label, n, ProgressBar::wanted(n)));
    boost::shared_ptr<CtvxProgressDelegate> delegate = bar;
    auto const t1 = std::chrono::steady_clock::now();
    body.object->makeCollisionEntity(delegate);
    body.buildSeconds = secondsSince(t1);
    bar->finish();
    return body;
}

Body boxBody(double const lo[3], double const hi[3])
{
    tvxio::MeshPart part;
    part.name = "box";
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 3; ++k)
            part.points.push_back(static_cast<float>(i & (1 << k) ? hi[k] : lo[k]));
    // Outward normals, corners numbered by their x, y, z bits.
    static std::uint32_t const faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                                               {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (auto const& f : faces)
        part.triangles.insert(part.triangles.end(), f, f + 3);
    Body body;
    body.format = "box";
    body.points = 8;
    body.fileVertices = 8;
    body.triangles = 12;
    for (int k = 0; k < 3; ++k) {
        body.lo[k] = static_cast<float>(lo[k]);
        body.hi[k] = static_cast<float>(hi[k]);
    }
    body.polyhedra.push_back(tvxio::makePolyhedron(part));
    body.partNames.push_back(part.name);
    body.object = body.polyhedra.front();
    boost::shared_ptr<CtvxProgressDelegate> none;
    auto const t0 = std::chrono::steady_clock::now();
    body.object->makeCollisionEntity(none);
    body.buildSeconds = secondsSince(t0);
    return body;
}

Json meshJson(Body const& body)
{
    Json j;
    j["file"] = body.path.empty() ? Json(nullptr) : Json(body.path);
    j["format"] = body.format;
    j["triangles"] = body.triangles;
    j["points"] = body.points;
    j["parts"] = body.polyhedra.size();
    j["import_ms"] = milliseconds(body.importSeconds);
    j["build_ms"] = milliseconds(body.buildSeconds);
    return j;
}

Json sideJson(Body const& body, Pose const& pose, double tolerance)
{
    return {{"mesh", meshJson(body)}, {"pose", poseJson(pose)}, {"tolerance", tolerance}};
}

void printSideText(char const* side, Body const& body, double tolerance)
{
    std::printf("%s: %s  %s, %s", side, body.path.c_str(), plural(body.triangles, "triangle").c_str(),
                plural(body.points, "point").c_str());
    if (body.polyhedra.size() > 1)
        std::printf(", %zu parts", body.polyhedra.size());
    if (tolerance > 0.0)
        std::printf(", tolerance %s", fmt(tolerance).c_str());
    std::printf("  (tree %s)\n", msText(body.buildSeconds).c_str());
}

void place(Body const& body, CqarMat4 const& placement)
{
    if (body.object->absolutePosition(placement) != 0)
        throw QueryError(body.path + ": the object refused its placement");
}

void setLists(CtvxAnalysis& analysis, Body const& a, Body const& b)
{
    boost::shared_ptr<CtvxCollisionList> l1 = CtvxCollisionList::create();
    boost::shared_ptr<CtvxCollisionList> l2 = CtvxCollisionList::create();
    l1->add(a.object);
    l2->add(b.object);
    analysis.setCollisionList1(l1);
    analysis.setCollisionList2(l2);
}

namespace {

void describeTriangle(boost::shared_ptr<CtvxGeometrySubElement> const& sub, Body const& body, int& triangle,
                      std::string& part, int& partIndex)
{
    triangle = -1;
    part.clear();
    partIndex = -1;
    boost::shared_ptr<CtvxPolyhedronTriangle> const t = boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(sub);
    if (!t)
        return;
    t->getTriangle(triangle);
    boost::shared_ptr<CtvxVirtualPolyhedron> owner;
    if (t->getPolyhedron(owner) != 0)
        return;
    for (std::size_t i = 0; i < body.polyhedra.size(); ++i)
        if (static_cast<CtvxVirtualPolyhedron*>(body.polyhedra[i].get()) == owner.get()) {
            part = body.partNames[i];
            partIndex = static_cast<int>(i);
        }
}

} // namespace

QueryOutcome runQuery(CtvxAnalysis& analysis, CtvxAnalysis::EAnalysisType type, Body const& a, Body const& b,
                      std::size_t maxPairs)
{
    QueryOutcome out;
    out.type = type;
    analysis.setAnalysisType(type);
    auto const t0 = std::chrono::steady_clock::now();
    analysis.compute();
    out.seconds = secondsSince(t0);
    out.complete = analysis.isComplete();

    if (analysis.countCollisions() > 0) {
        boost::shared_ptr<CtvxCollision> c;
        analysis.getCollision(0, c);
        out.contact = true;
        out.pairCount = c->countPairs();
        for (unsigned int i = 0; i < c->countPairs() && out.pairs.size() < maxPairs; ++i) {
            boost::shared_ptr<CtvxGeometrySubElement> first, second;
            c->getFirst(i, first);
            c->getSecond(i, second);
            TrianglePairInfo info;
            describeTriangle(first, a, info.triangleA, info.partA, info.partIndexA);
            describeTriangle(second, b, info.triangleB, info.partB, info.partIndexB);
            out.pairs.push_back(info);
        }
    }
    bool const distanceType =
        type == CtvxAnalysis::EXACT_DISTANCE || type == CtvxAnalysis::ESTIMATED_DISTANCE;
    if (distanceType && out.contact) {
        // A contact ends a distance query: the clearance is 0 or less, and
        // the library reports no closest points for it.
        out.hasClearance = true;
        out.clearance = 0.0f;
    } else if (distanceType && analysis.countDistances() > 0) {
        boost::shared_ptr<CtvxDistance> d;
        analysis.getDistance(0, d);
        out.hasClearance = true;
        out.clearance = d->distance();
        out.exact = d->isExactDistance();
        if (out.exact) {
            boost::shared_ptr<CtvxGeometryPoint> p1, p2;
            d->getClosestPoint1(p1);
            d->getClosestPoint2(p2);
            CqarPoint3 pa, pb;
            p1->pointAbsolute(pa);
            p2->pointAbsolute(pb);
            for (int k = 0; k < 3; ++k) {
                out.closestA[k] = pa[k];
                out.closestB[k] = pb[k];
            }
        }
    }
    return out;
}

char const* typeName(CtvxAnalysis::EAnalysisType type)
{
    switch (type) {
    case CtvxAnalysis::FIRST_COLLISION: return "first";
    case CtvxAnalysis::ALL_COLLISIONS: return "all";
    case CtvxAnalysis::EXACT_DISTANCE: return "exact";
    case CtvxAnalysis::ESTIMATED_DISTANCE: return "estimated";
    }
    return "?";
}

char const* typeTitle(CtvxAnalysis::EAnalysisType type)
{
    switch (type) {
    case CtvxAnalysis::FIRST_COLLISION: return "first collision";
    case CtvxAnalysis::ALL_COLLISIONS: return "all collisions";
    case CtvxAnalysis::EXACT_DISTANCE: return "exact distance";
    case CtvxAnalysis::ESTIMATED_DISTANCE: return "estimated distance";
    }
    return "?";
}

bool parseType(std::string const& text, CtvxAnalysis::EAnalysisType& out)
{
    CtvxAnalysis::EAnalysisType const all[] = {CtvxAnalysis::FIRST_COLLISION, CtvxAnalysis::ALL_COLLISIONS,
                                                CtvxAnalysis::EXACT_DISTANCE, CtvxAnalysis::ESTIMATED_DISTANCE};
    for (CtvxAnalysis::EAnalysisType t : all)
        if (text == typeName(t)) {
            out = t;
            return true;
        }
    return false;
}

std::string fmt(double v, int digits)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

std::string msText(double seconds)
{
    double const ms = seconds * 1.0e3;
    char buf[48];
    // Three significant digits, but never fewer than whole milliseconds.
    if (ms >= 100.0)
        std::snprintf(buf, sizeof buf, "%.0f ms", ms);
    else
        std::snprintf(buf, sizeof buf, "%.3g ms", ms);
    return buf;
}

} // namespace tvxcli
