#include <tests/support/QueryRecord.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/scene/CtvxAssembly.h>

#include <boost/pointer_cast.hpp>

#include <cstdint>
#include <cstring>
#include <sstream>

namespace tvxtest {

std::string bits(double v)
{
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    std::ostringstream s;
    s << v << "[" << std::hex << u << "]";
    return s.str();
}

namespace {

std::string describePoint(boost::shared_ptr<CtvxGeometryPoint> const& p)
{
    if (!p)
        return "none";
    CqarPoint3 a, r;
    p->pointAbsolute(a);
    p->pointRelative(r);
    return bits(a[0]) + "," + bits(a[1]) + "," + bits(a[2]) + "/" + bits(r[0]) + "," + bits(r[1]) + "," +
           bits(r[2]);
}

} // namespace

std::string QueryRecord::nameOf(CtvxObject const* o) const
{
    if (!o)
        return "none";
    for (std::size_t k = 0; k < objects.size(); ++k)
        if (objects[k] == o)
            return "#" + std::to_string(k);
    return "?";
}

std::string QueryRecord::describe(CtvxAnalysis const& a) const
{
    std::ostringstream s;
    auto const triangle = [this](boost::shared_ptr<CtvxGeometrySubElement> const& e) {
        auto const t = boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(e);
        if (!t)
            return std::string("?");
        boost::shared_ptr<CtvxVirtualPolyhedron> p;
        int r = -1;
        t->getPolyhedron(p);
        t->getTriangle(r);
        return nameOf(p.get()) + ":" + std::to_string(r);
    };
    for (unsigned int c = 0; c < a.countCollisions(); ++c) {
        boost::shared_ptr<CtvxCollision> col;
        a.getCollision(c, col);
        auto const o = objectsOf(*col);
        s << "collision " << c << " " << nameOf(o.first.get()) << "-" << nameOf(o.second.get()) << ":";
        for (unsigned int i = 0; i < col->countPairs(); ++i) {
            boost::shared_ptr<CtvxGeometrySubElement> e1, e2;
            col->getFirst(i, e1);
            col->getSecond(i, e2);
            s << " (" << triangle(e1) << " " << triangle(e2) << ")";
        }
        s << "\n";
    }
    for (unsigned int d = 0; d < a.countDistances(); ++d) {
        boost::shared_ptr<CtvxDistance> dist;
        a.getDistance(d, dist);
        auto const o = objectsOf(*dist);
        boost::shared_ptr<CtvxGeometryPoint> p1, p2;
        dist->getClosestPoint1(p1);
        dist->getClosestPoint2(p2);
        s << "distance " << d << " " << nameOf(o.first.get()) << "-" << nameOf(o.second.get()) << ": "
          << bits(dist->distance()) << " " << describePoint(p1) << " " << describePoint(p2) << "\n";
    }
    for (CtvxPoly const* p : hinted) {
        CqarPoint3 q;
        int t = -1;
        p->getLastClosestPoint(q, t);
        s << "hint " << t << " " << bits(q[0]) << "," << bits(q[1]) << "," << bits(q[2]) << "\n";
    }
    for (unsigned int k = 0; k < a.countSkippedObjects(); ++k) {
        boost::shared_ptr<CtvxObject> o;
        a.getSkippedObject(k, o);
        s << "unexamined " << nameOf(o.get()) << "\n";
    }
    for (CtvxObject const* o : objects) {
        CtvxAssembly const* const as = dynamic_cast<CtvxAssembly const*>(o);
        boost::shared_ptr<CtvxObject> c;
        if (as && as->getPrioritaryChild(c) == 0)
            s << "prioritary " << nameOf(o) << " " << nameOf(c.get()) << "\n";
    }
    return s.str();
}

} // namespace tvxtest
