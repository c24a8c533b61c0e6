// The scene graph for hosts that build their own scenes: polyhedra over
// meshes, assemblies, collision lists, the analysis and its results. Every
// object is held by the library's shared pointer, so Python references keep
// objects alive and results, which refer to objects weakly, give None for
// an object that is gone. Queries here run with the GIL held: a scene is
// never queried or edited from two threads at once.

#include "Common.h"

#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxGeometry.h>
#include <tvx/scene/CtvxObject.h>

#include <cmath>
#include <vector>

namespace tvxpy {

namespace {

typedef boost::shared_ptr<CtvxObject> ObjectPtr;

char const* typeName(CtvxAnalysis::EAnalysisType t)
{
    switch (t) {
    case CtvxAnalysis::FIRST_COLLISION: return "first";
    case CtvxAnalysis::ALL_COLLISIONS: return "all";
    case CtvxAnalysis::EXACT_DISTANCE: return "exact";
    case CtvxAnalysis::ESTIMATED_DISTANCE: return "estimated";
    }
    return "?";
}

void setPlacement(CtvxObject& o, py::handle pose, bool absolute)
{
    CqarMat4 const m = placementOf(pose, absolute ? "absolute_position" : "relative_position");
    int const rc = absolute ? o.absolutePosition(m) : o.relativePosition(m);
    if (rc != 0)
        throw std::runtime_error("the object is locked in a regrouped assembly and cannot be placed");
}

// The triangle a result names: its polyhedron (None when gone) and rank.
py::tuple triangleOf(boost::shared_ptr<CtvxGeometrySubElement> const& sub)
{
    boost::shared_ptr<CtvxPolyhedronTriangle> const t = boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(sub);
    int rank = -1;
    boost::shared_ptr<CtvxVirtualPolyhedron> owner;
    if (t) {
        t->getTriangle(rank);
        t->getPolyhedron(owner);
    }
    return py::make_tuple(owner ? py::cast(owner) : py::none(), rank);
}

py::object objectOr(int rc, ObjectPtr const& o)
{
    return rc == 0 && o ? py::cast(o) : py::none();
}

py::array_t<std::int32_t> pairRanks(CtvxCollision const& c)
{
    py::array_t<std::int32_t> out({static_cast<py::ssize_t>(c.countPairs()), py::ssize_t(2)});
    std::int32_t* v = out.mutable_data();
    for (unsigned int i = 0; i < c.countPairs(); ++i) {
        boost::shared_ptr<CtvxGeometrySubElement> first, second;
        c.getFirst(i, first);
        c.getSecond(i, second);
        int r1 = -1, r2 = -1;
        if (auto t = boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(first))
            t->getTriangle(r1);
        if (auto t = boost::dynamic_pointer_cast<CtvxPolyhedronTriangle>(second))
            t->getTriangle(r2);
        v[2 * i] = r1;
        v[2 * i + 1] = r2;
    }
    return out;
}

// The n results an analysis holds, read by get(i, out), as a Python list.
template <typename Result, typename Get>
py::list resultList(unsigned int n, Get const& get)
{
    py::list out;
    for (unsigned int i = 0; i < n; ++i) {
        boost::shared_ptr<Result> r;
        get(i, r);
        out.append(r);
    }
    return out;
}

} // namespace

void bindScene(py::module_& m)
{
    py::enum_<CtvxObject::EActivation>(m, "Activation")
        .value("ACTIVATED", CtvxObject::ACTIVATED)
        .value("DEACTIVATED", CtvxObject::DEACTIVATED)
        .value("PARTIALLY_ACTIVATED", CtvxObject::PARTIALLY_ACTIVATED);

    py::class_<CtvxObject, ObjectPtr>(m, "Object",
        "A node of the scene graph (a polyhedron or an assembly), placed relative to its parent.")
        .def_property("absolute_position",
                      [](CtvxObject& o) { CqarMat4 p; o.getAbsolutePosition(p); return matrixArray(p); },
                      [](CtvxObject& o, py::handle pose) { setPlacement(o, pose, true); })
        .def_property("relative_position",
                      [](CtvxObject const& o) { CqarMat4 p; o.getRelativePosition(p); return matrixArray(p); },
                      [](CtvxObject& o, py::handle pose) { setPlacement(o, pose, false); })
        .def_property("tolerance",
                      [](CtvxObject const& o) { double t = 0.0; o.getMaxTolerance(t); return t; },
                      [](CtvxObject& o, double t) {
                          if (!std::isfinite(t) || t < 0.0)
                              throw py::value_error("tolerance must be a finite number >= 0");
                          o.setTolerance(t);
                      }, "The largest tolerance at or below this object; setting it sets all below.")
        .def_property("activated", [](CtvxObject const& o) { return o.activation() == CtvxObject::ACTIVATED; },
                      [](CtvxObject& o, bool on) {
                          if (o.activation(on) != 0)
                              throw std::runtime_error("the object is locked and its activation cannot change");
                      })
        .def_property_readonly("activation", [](CtvxObject const& o) { return o.activation(); })
        .def_property_readonly("parent", [](CtvxObject const& o) -> py::object {
            boost::shared_ptr<CtvxAssembly> p;
            return o.getParent(p) == 0 && p ? py::cast(p) : py::none();
        })
        .def_property_readonly("class_name", [](CtvxObject const& o) { return o.className(); })
        .def("make_collision_entity", [](CtvxObject& o) {
            // Trees made here (an assembly's group, a stale polyhedron's)
            // are the default's.
            AxesScope const axes(false);
            boost::shared_ptr<CtvxProgressDelegate> none;
            o.makeCollisionEntity(none);
        }, "Builds what queries need (trees, the regrouping of an assembly); queries do it for their lists.");

    py::class_<CtvxGeometry, CtvxObject, boost::shared_ptr<CtvxGeometry>>(m, "Geometry");
    py::class_<CtvxVirtualPolyhedron, CtvxGeometry, boost::shared_ptr<CtvxVirtualPolyhedron>>(m, "VirtualPolyhedron")
        .def_property_readonly("n_triangles", &CtvxVirtualPolyhedron::countTriangles)
        .def_property_readonly("n_points", &CtvxVirtualPolyhedron::countPoints);

    py::class_<CtvxPolyhedron, CtvxVirtualPolyhedron, boost::shared_ptr<CtvxPolyhedron>>(m, "Polyhedron",
        "A polyhedron over a Mesh (which several polyhedra may share, with one tree, built with the\n"
        "mesh's scale_free_axes).")
        .def(py::init([](Mesh& mesh) {
                 mesh.ensureTree();
                 boost::shared_ptr<CtvxPolyhedronData> data = mesh.data;
                 boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(data);
                 boost::shared_ptr<CtvxProgressDelegate> none;
                 AxesScope const axes(mesh.scaleFreeAxes);
                 p->makeCollisionEntity(none); // adopts the mesh's tree
                 return p;
             }),
             py::arg("mesh"));

    py::class_<CtvxAssembly, CtvxObject, boost::shared_ptr<CtvxAssembly>>(m, "Assembly",
        "An inner node: children placed relative to it. Made a collision entity (as queries do), its\n"
        "polyhedra are regrouped under one tree and locked until detached.")
        .def(py::init([]() { return CtvxAssembly::create(); }))
        .def("attach", [](CtvxAssembly& a, ObjectPtr const& o, int rank) {
            if (!o)
                throw py::value_error("cannot attach None");
            if (a.attach(o, rank) != 0)
                throw std::runtime_error("the object cannot be attached here (it has a parent, is an ancestor, "
                                         "or the assembly is locked)");
        }, py::arg("object"), py::arg("rank") = -1)
        .def("detach", [](CtvxAssembly& a, ObjectPtr o) {
            unsigned int rank = 0;
            if (a.detach(o, rank) != 0)
                throw std::runtime_error("the object is not a child of this assembly, or the assembly is locked");
            return rank;
        }, py::arg("object"))
        .def_property_readonly("children", [](CtvxAssembly const& a) {
            py::list out;
            for (unsigned int i = 0; i < a.countChildren(); ++i)
                out.append(a.child(i));
            return out;
        });

    py::class_<CtvxCollisionList, boost::shared_ptr<CtvxCollisionList>>(m, "CollisionList",
        "An ordered list of objects, one side of an analysis.")
        .def(py::init([](py::iterable objects) {
                 boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
                 for (py::handle h : objects)
                     l->add(h.cast<ObjectPtr>());
                 return l;
             }),
             py::arg("objects") = py::list())
        .def("add", [](CtvxCollisionList& l, ObjectPtr const& o) {
            if (!o)
                throw py::value_error("cannot add None");
            l.add(o);
        })
        .def("remove", &CtvxCollisionList::remove)
        .def("__len__", &CtvxCollisionList::countObjects)
        .def("__getitem__", [](CtvxCollisionList const& l, unsigned int i) {
            if (i >= l.countObjects())
                throw py::index_error();
            return l.object(i);
        });

    py::class_<CtvxCollision, boost::shared_ptr<CtvxCollision>>(m, "Collision",
        "An object pair found in contact and its triangle pairs.")
        .def_property_readonly("object1", [](CtvxCollision const& c) { ObjectPtr o; int rc = c.getObject1(o); return objectOr(rc, o); })
        .def_property_readonly("object2", [](CtvxCollision const& c) { ObjectPtr o; int rc = c.getObject2(o); return objectOr(rc, o); })
        .def_property_readonly("pairs", &pairRanks, "(k, 2) triangle ranks, each in its own polyhedron.")
        .def("pair", [](CtvxCollision const& c, unsigned int i) {
            if (i >= c.countPairs())
                throw py::index_error();
            boost::shared_ptr<CtvxGeometrySubElement> first, second;
            c.getFirst(i, first);
            c.getSecond(i, second);
            return py::make_tuple(triangleOf(first), triangleOf(second));
        }, "((polyhedron, triangle), (polyhedron, triangle)) of pair i.")
        .def("__len__", &CtvxCollision::countPairs);

    py::class_<CtvxDistance, boost::shared_ptr<CtvxDistance>>(m, "Distance",
        "The clearance of an object pair (distance minus tolerances) and, when exact, the closest points.")
        .def_property_readonly("clearance", [](CtvxDistance const& d) { return static_cast<double>(d.distance()); })
        .def_property_readonly("exact", &CtvxDistance::isExactDistance)
        .def_property_readonly("closest", [](CtvxDistance const& d) -> py::object {
            boost::shared_ptr<CtvxGeometryPoint> p1, p2;
            if (d.getClosestPoint1(p1) != 0 || d.getClosestPoint2(p2) != 0 || !p1 || !p2)
                return py::none();
            CqarPoint3 a, b;
            p1->pointAbsolute(a);
            p2->pointAbsolute(b);
            py::array_t<double> out({2, 3});
            double* v = out.mutable_data();
            for (int k = 0; k < 3; ++k) {
                v[k] = a[k];
                v[3 + k] = b[k];
            }
            return std::move(out);
        }, "(2, 3): the closest point on object 1 and on object 2, in the world; None unless exact.")
        .def_property_readonly("object1", [](CtvxDistance const& d) { ObjectPtr o; int rc = d.getObject1(o); return objectOr(rc, o); })
        .def_property_readonly("object2", [](CtvxDistance const& d) { ObjectPtr o; int rc = d.getObject2(o); return objectOr(rc, o); });

    py::class_<CtvxAnalysis, boost::shared_ptr<CtvxAnalysis>>(m, "Analysis",
        "A query between two collision lists: type 'first', 'all', 'exact' or 'estimated'.\n"
        "compute() makes the lists' objects collision entities and runs the query.")
        .def(py::init([](boost::shared_ptr<CtvxCollisionList> const& l1, boost::shared_ptr<CtvxCollisionList> const& l2,
                         std::string const& type) {
                 boost::shared_ptr<CtvxAnalysis> a = CtvxAnalysis::create();
                 a->setAnalysisType(parseType(type));
                 if (l1)
                     a->setCollisionList1(l1);
                 if (l2)
                     a->setCollisionList2(l2);
                 return a;
             }),
             py::arg("list1") = nullptr, py::arg("list2") = nullptr, py::arg("type") = "exact")
        .def_property("type", [](CtvxAnalysis const& a) { return typeName(a.analysisType()); },
                      [](CtvxAnalysis& a, std::string const& t) { a.setAnalysisType(parseType(t)); })
        .def_property("list1",
                      [](CtvxAnalysis const& a) { boost::shared_ptr<CtvxCollisionList> l; a.getCollisionList1(l); return l; },
                      &CtvxAnalysis::setCollisionList1)
        .def_property("list2",
                      [](CtvxAnalysis const& a) { boost::shared_ptr<CtvxCollisionList> l; a.getCollisionList2(l); return l; },
                      &CtvxAnalysis::setCollisionList2)
        .def("compute", [](CtvxAnalysis& a) {
            boost::shared_ptr<CtvxCollisionList> lists[2];
            a.getCollisionList1(lists[0]);
            a.getCollisionList2(lists[1]);
            std::vector<ObjectPtr> unmade;
            for (auto const& l : lists)
                if (l)
                    for (unsigned int i = 0; i < l->countObjects(); ++i)
                        if (l->object(i) && !l->object(i)->areCollisionEntitiesMade())
                            unmade.push_back(l->object(i));
            if (!unmade.empty()) {
                // As make_collision_entity: trees made here are the default's.
                AxesScope const axes(false);
                boost::shared_ptr<CtvxProgressDelegate> none;
                for (ObjectPtr const& o : unmade)
                    o->makeCollisionEntity(none);
            }
            a.compute();
        })
        .def_property_readonly("collisions", [](CtvxAnalysis const& a) {
            return resultList<CtvxCollision>(a.countCollisions(), [&](unsigned int i, auto& r) { a.getCollision(i, r); });
        })
        .def_property_readonly("distances", [](CtvxAnalysis const& a) {
            return resultList<CtvxDistance>(a.countDistances(), [&](unsigned int i, auto& r) { a.getDistance(i, r); });
        }, "Distance results, smallest first.")
        .def_property_readonly("complete", &CtvxAnalysis::isComplete,
            "False when the last compute() left pairs unexamined (geometry without an OBB tree):\n"
            "then no contact, and the distances, are not answers.");
}

} // namespace tvxpy
