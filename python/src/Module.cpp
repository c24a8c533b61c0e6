// The extension module tvx._tvx: meshes, the batch engine and the scene
// graph. The Python package (tvx/__init__.py) puts the friendlier names on
// top.

#include "Common.h"

#include <batch/CtvxBatchBody.h>
#include <batch/CtvxBatchQuery.h>
#include <tools/import/MeshImport.h>
#include <tools/import/PolyhedronFromMesh.h>

#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/math/CtvxPoint.h>
#include <tvx/math/CtvxTriangle.h>
#include <tvx/progress/CtvxProgressDelegate.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>

#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <algorithm>
#include <limits>
#include <mutex>
#include <thread>

namespace tvxpy {

namespace {

struct AxesGate {
    std::mutex mutex;
    std::condition_variable released;
    unsigned long inFlight = 0;
    bool value = false; // the setting held while inFlight > 0
    bool found = false; // the setting before the first scope in
};

AxesGate& axesGate()
{
    static AxesGate gate;
    return gate;
}

// The scopes this thread holds, and their setting: a batch's progress
// callback runs on the batch's thread inside its scope, and a build of the
// other setting from there would wait for that scope to end.
thread_local unsigned long t_scopesHeld = 0;
thread_local bool t_scopeValue = false;

} // namespace

AxesScope::AxesScope(bool scaleFreeAxes)
{
    if (t_scopesHeld > 0 && t_scopeValue != scaleFreeAxes)
        throw std::runtime_error(std::string("a tree with scale_free_axes=") + (scaleFreeAxes ? "True" : "False") +
                                 " cannot be built while this thread runs a batch of meshes with the other setting");
    AxesGate& g = axesGate();
    // The GIL goes first and comes back last: a thread holding a scope may
    // need the GIL (a batch reporting progress) before it can end it.
    py::gil_scoped_release const release;
    std::unique_lock<std::mutex> lock(g.mutex);
    g.released.wait(lock, [&] { return g.inFlight == 0 || g.value == scaleFreeAxes; });
    if (g.inFlight == 0) {
        g.found = CtvxPolyhedronOBBTreeFactory::scaleFreeAxes();
        g.value = scaleFreeAxes;
        CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(scaleFreeAxes);
    }
    ++g.inFlight;
    ++t_scopesHeld;
    t_scopeValue = scaleFreeAxes;
}

AxesScope::~AxesScope()
{
    --t_scopesHeld;
    AxesGate& g = axesGate();
    std::lock_guard<std::mutex> const lock(g.mutex);
    if (--g.inFlight == 0) {
        CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(g.found);
        g.released.notify_all();
    }
}

void Mesh::ensureTree()
{
    if (keeper && keeperRevision == data->revision())
        return;
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(data);
    {
        AxesScope const axes(scaleFreeAxes);
        py::gil_scoped_release const release;
        boost::shared_ptr<CtvxProgressDelegate> none;
        p->makeCollisionEntity(none);
    }
    keeper = p;
    keeperRevision = data->revision();
}

std::size_t Mesh::bytes() const
{
    std::size_t n = data->countPoints() * sizeof(CtvxPoint) + data->countTriangles() * sizeof(CtvxTriangle);
    CtvxPolyhedronBVTree* tree = nullptr;
    if (keeper && keeperRevision == data->revision() && keeper->getBoundingVolumes(tree) == 0)
        if (auto const* obbTree = dynamic_cast<CtvxPolyhedronOBBTree const*>(tree))
            n += static_cast<std::size_t>(obbTree->countObbs()) * sizeof(CtvxOBB);
    return n;
}

namespace {

boost::shared_ptr<Mesh> meshFromArrays(py::handle points, py::handle triangles, bool scaleFreeAxes)
{
    py::array const rawP = py::array::ensure(points);
    py::array const rawT = py::array::ensure(triangles);
    if (!rawP || (rawP.dtype().kind() != 'f' && rawP.dtype().kind() != 'i' && rawP.dtype().kind() != 'u'))
        throw py::type_error("points must be an array of real numbers");
    if (!rawT || (rawT.dtype().kind() != 'i' && rawT.dtype().kind() != 'u'))
        throw py::type_error("triangles must be an array of integers");
    if (rawP.ndim() != 2 || rawP.shape(1) != 3)
        throw py::value_error("points must have shape (n, 3)");
    if (rawT.ndim() != 2 || rawT.shape(1) != 3)
        throw py::value_error("triangles must have shape (m, 3)");
    auto const p = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(rawP);
    auto const t = py::array_t<long long, py::array::c_style | py::array::forcecast>::ensure(rawT);
    std::size_t const n = static_cast<std::size_t>(p.shape(0));
    std::size_t const m = static_cast<std::size_t>(t.shape(0));
    if (n >= std::numeric_limits<unsigned int>::max() || m >= std::numeric_limits<unsigned int>::max())
        throw py::value_error("more points or triangles than the library can address");
    double const* pv = p.data();
    for (std::size_t i = 0; i < 3 * n; ++i) {
        // Stored in single precision: what does not fit a float is refused
        // rather than turned into infinity.
        if (!std::isfinite(pv[i]) || std::fabs(pv[i]) > std::numeric_limits<float>::max())
            throw py::value_error("point " + std::to_string(i / 3) + " has a coordinate that is not a finite float");
    }
    long long const* tv = t.data();
    for (std::size_t i = 0; i < 3 * m; ++i)
        if (tv[i] < 0 || static_cast<unsigned long long>(tv[i]) >= n)
            throw py::value_error("triangle " + std::to_string(i / 3) + " names point " + std::to_string(tv[i]) +
                                  ", outside 0.." + std::to_string(n == 0 ? -1 : static_cast<long long>(n) - 1));
    auto mesh = boost::shared_ptr<Mesh>(new Mesh());
    mesh->scaleFreeAxes = scaleFreeAxes;
    mesh->data = CtvxPolyhedronData::create();
    mesh->data->reserveNPoints(static_cast<unsigned int>(n));
    mesh->data->reserveNTriangles(static_cast<unsigned int>(m));
    unsigned int rank = 0;
    for (std::size_t i = 0; i < n; ++i)
        mesh->data->addPoint(static_cast<float>(pv[3 * i]), static_cast<float>(pv[3 * i + 1]),
                             static_cast<float>(pv[3 * i + 2]), rank);
    for (std::size_t i = 0; i < m; ++i)
        mesh->data->addTriangle(static_cast<unsigned int>(tv[3 * i]), static_cast<unsigned int>(tv[3 * i + 1]),
                                static_cast<unsigned int>(tv[3 * i + 2]), rank);
    return mesh;
}

// A Mesh for the merged meshes of the file, or with keepParts a list of
// them, one a mesh of the file in the file's order, each named as the file
// names it (the tool's --keep-parts).
py::object loadMesh(std::string const& path, bool keepParts, bool scaleFreeAxes)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        PyErr_SetString(PyExc_FileNotFoundError, (path + ": no such file").c_str());
        throw py::error_already_set();
    }
    tvxio::ImportedMesh imported;
    std::string error;
    tvxio::ImportOptions options;
    options.keepParts = keepParts;
    int rc;
    {
        // The reader runs in a child process, so a file that crashes or
        // hangs it costs an exception here, never the interpreter.
        py::gil_scoped_release const release;
        rc = tvxio::importMesh(path, options, imported, error);
    }
    if (rc != 0)
        throw py::value_error(error);
    if (imported.countPoints() >= std::numeric_limits<unsigned int>::max() ||
        imported.countTriangles() >= std::numeric_limits<unsigned int>::max())
        throw py::value_error(path + ": more points or triangles than the library can address");
    py::list parts;
    for (tvxio::MeshPart const& part : imported.parts) {
        auto mesh = boost::shared_ptr<Mesh>(new Mesh());
        mesh->data = tvxio::makePolyhedronData(part);
        mesh->source = path;
        mesh->scaleFreeAxes = scaleFreeAxes;
        if (keepParts)
            mesh->name = part.name;
        parts.append(mesh);
    }
    return keepParts ? py::object(parts) : py::object(parts[0]);
}

py::array_t<float> meshPoints(Mesh const& mesh)
{
    std::size_t const n = mesh.data->countPoints();
    py::array_t<float> out({static_cast<py::ssize_t>(n), py::ssize_t(3)});
    float* v = out.mutable_data();
    for (unsigned int i = 0; i < n; ++i)
        mesh.data->getPoint(i, v[3 * i], v[3 * i + 1], v[3 * i + 2]);
    return out;
}

py::array_t<std::uint32_t> meshTriangles(Mesh const& mesh)
{
    std::size_t const m = mesh.data->countTriangles();
    py::array_t<std::uint32_t> out({static_cast<py::ssize_t>(m), py::ssize_t(3)});
    std::uint32_t* v = out.mutable_data();
    for (unsigned int i = 0; i < m; ++i) {
        unsigned int a, b, c;
        mesh.data->getTriangle(i, a, b, c);
        v[3 * i] = a;
        v[3 * i + 1] = b;
        v[3 * i + 2] = c;
    }
    return out;
}

// What a pickled mesh carries: its points and triangles as the properties
// hand them out (the stored float32 values, so the mesh rebuilt from them
// holds the same floats and builds the same tree), the file it came from,
// its part's name and the setting its tree is built with. The tree stays
// behind: it is rebuilt on first use where the mesh lands.
py::object meshState(Mesh const& mesh)
{
    return py::make_tuple(meshPoints(mesh), meshTriangles(mesh), mesh.source, mesh.name, mesh.scaleFreeAxes);
}

// The state goes through the constructor's own checks, so a damaged one is
// refused with the constructor's message (shapes, ranks, numbers). States
// of three (without the name) and of four (without the setting) are what
// meshes pickled by earlier versions carry; their trees were the default's.
boost::shared_ptr<Mesh> meshFromState(py::object const& state)
{
    if (!py::isinstance<py::tuple>(state) || py::len(state) < 3 || py::len(state) > 5)
        throw py::value_error("a tvx.Mesh state is a tuple (points, triangles, source, name, scale_free_axes)");
    py::tuple const t = state.cast<py::tuple>();
    if (!py::isinstance<py::str>(t[2]))
        throw py::value_error("the source of a tvx.Mesh state must be a string");
    if (t.size() >= 4 && !py::isinstance<py::str>(t[3]))
        throw py::value_error("the name of a tvx.Mesh state must be a string");
    if (t.size() == 5 && !py::isinstance<py::bool_>(t[4]))
        throw py::value_error("the scale_free_axes of a tvx.Mesh state must be a bool");
    boost::shared_ptr<Mesh> mesh = meshFromArrays(t[0], t[1], t.size() == 5 && t[4].cast<bool>());
    mesh->source = t[2].cast<std::string>();
    if (t.size() >= 4)
        mesh->name = t[3].cast<std::string>();
    return mesh;
}

double checkedTolerance(double t, char const* what)
{
    if (!std::isfinite(t) || t < 0.0)
        throw py::value_error(std::string(what) + " must be a finite number >= 0");
    return t;
}

// Runs the batch with the GIL released; the calling thread takes it back
// only to report progress and to look for a pending KeyboardInterrupt,
// which cancels the batch.
// The body of one side of a batch: a Mesh, or a sequence of Meshes (the
// parts of one rigid body, each in the body's frame), every tree built.
std::vector<boost::shared_ptr<Mesh>> partsOf(py::handle side, char const* what)
{
    std::vector<boost::shared_ptr<Mesh>> parts;
    if (py::isinstance<Mesh>(side)) {
        parts.push_back(side.cast<boost::shared_ptr<Mesh>>());
    } else if (py::isinstance<py::sequence>(side) && !py::isinstance<py::str>(side)) {
        for (py::handle h : side.cast<py::sequence>()) {
            if (!py::isinstance<Mesh>(h))
                throw py::type_error(std::string(what) + " must be a tvx.Mesh or a sequence of them (its parts)");
            parts.push_back(h.cast<boost::shared_ptr<Mesh>>());
        }
        if (parts.empty())
            throw py::value_error(std::string(what) + " has no parts");
    } else {
        throw py::type_error(std::string(what) + " must be a tvx.Mesh or a sequence of them (its parts)");
    }
    return parts;
}

boost::shared_ptr<CtvxBatchBody> bodyOf(std::vector<boost::shared_ptr<Mesh>> const& parts, double tolerance)
{
    boost::shared_ptr<CtvxBatchBody> body = CtvxBatchBody::create();
    for (boost::shared_ptr<Mesh> const& part : parts) {
        part->ensureTree();
        body->addPart(part->data, CqarMat4(), tolerance);
    }
    return body;
}

py::dict runBatch(py::handle a, py::handle b, py::handle posesB, std::string const& typeName, py::object threads,
                  double tolA, double tolB, py::object progress)
{
    CtvxAnalysis::EAnalysisType const type = parseType(typeName);
    checkedTolerance(tolA, "tolerance_a");
    checkedTolerance(tolB, "tolerance_b");
    unsigned int k = 0;
    if (!threads.is_none()) {
        long const t = threads.cast<long>();
        if (t < 1)
            throw py::value_error("threads must be at least 1 (None uses every core)");
        k = static_cast<unsigned int>(t);
    }
    std::vector<double> const poses = posesOf(posesB, "poses_b");
    std::size_t const n = poses.size() / 16;
    std::vector<boost::shared_ptr<Mesh>> const partsA = partsOf(a, "a");
    std::vector<boost::shared_ptr<Mesh>> const partsB = partsOf(b, "b");
    // The batch's workers adopt the parts' trees through a lookup keyed on
    // the builder's setting, which is one for all of them.
    bool const scaleFree = partsA.front()->scaleFreeAxes;
    for (auto const* parts : {&partsA, &partsB})
        for (boost::shared_ptr<Mesh> const& part : *parts)
            if (part->scaleFreeAxes != scaleFree)
                throw py::value_error("the meshes of a batch must all have the same scale_free_axes");
    AxesScope const axes(scaleFree);
    boost::shared_ptr<CtvxBatchBody> bodyA = bodyOf(partsA, tolA);
    boost::shared_ptr<CtvxBatchBody> bodyB = bodyOf(partsB, tolB);
    boost::shared_ptr<CtvxBatchQuery> q = CtvxBatchQuery::create(bodyA, bodyB);
    q->analysisType(type);
    q->threads(k);
    bool interrupted = false;
    q->progress([&](std::size_t done, std::size_t total) {
        py::gil_scoped_acquire const gil;
        if (PyErr_CheckSignals() != 0) {
            interrupted = true;
            return false;
        }
        if (!progress.is_none())
            progress(done, total); // an exception from it ends the batch and propagates
        return true;
    });
    std::vector<CtvxBatchResult> out(n);
    int rc;
    {
        py::gil_scoped_release const release;
        rc = q->run(poses.data(), n, out.data());
    }
    if (interrupted)
        throw py::error_already_set();
    if (rc != 0)
        throw std::runtime_error(q->error());

    py::array_t<bool> contact(static_cast<py::ssize_t>(n));
    py::array_t<bool> exact(static_cast<py::ssize_t>(n));
    py::array_t<double> clearance(static_cast<py::ssize_t>(n));
    py::array_t<double> closestA({static_cast<py::ssize_t>(n), py::ssize_t(3)});
    py::array_t<double> closestB({static_cast<py::ssize_t>(n), py::ssize_t(3)});
    py::array_t<std::uint32_t> pairCount(static_cast<py::ssize_t>(n));
    py::array_t<std::int32_t> status(static_cast<py::ssize_t>(n));
    bool* c = contact.mutable_data();
    bool* e = exact.mutable_data();
    double* cl = clearance.mutable_data();
    double* pa = closestA.mutable_data();
    double* pb = closestB.mutable_data();
    std::uint32_t* pc = pairCount.mutable_data();
    std::int32_t* st = status.mutable_data();
    for (std::size_t i = 0; i < n; ++i) {
        CtvxBatchResult const& r = out[i];
        c[i] = r.contact;
        e[i] = r.exact;
        cl[i] = r.clearance;
        pc[i] = r.pairCount;
        st[i] = r.status;
        for (int j = 0; j < 3; ++j) {
            pa[3 * i + static_cast<std::size_t>(j)] = r.closestA[j];
            pb[3 * i + static_cast<std::size_t>(j)] = r.closestB[j];
        }
    }
    py::dict d;
    d["contact"] = contact;
    d["clearance"] = clearance;
    d["exact"] = exact;
    d["closest_a"] = closestA;
    d["closest_b"] = closestB;
    d["pair_count"] = pairCount;
    d["status"] = status;
    return d;
}

} // namespace

void bindBatch(py::module_& m)
{
    py::class_<Mesh, boost::shared_ptr<Mesh>>(m, "Mesh",
        "A triangle mesh: single-precision points and triangles naming them by rank.\n\n"
        "Mesh(points, triangles) copies an (n, 3) array of numbers and an (m, 3) array of\n"
        "point ranks; Mesh.load(path) reads any file the tvx tool reads. Its OBB tree is\n"
        "built once, on first use, and shared by every query and batch over the mesh.\n\n"
        "A mesh pickles (and copies with copy.deepcopy) as its points, triangles, source and name;\n"
        "the tree does not travel but is rebuilt on first use where the mesh lands, from the\n"
        "same floats, so the copy answers every query exactly as the original.\n\n"
        "scale_free_axes=True builds the tree with principal axes fitted to each box's own\n"
        "scale, as the tvx tool's --scale-free-axes does: tighter trees, and faster distance\n"
        "queries, for meshes about 1 unit across or smaller. Distances are the same; which\n"
        "contact is found first, and the order of contacts, may differ. The setting travels\n"
        "with the mesh when it is pickled. The library keeps it process-wide: builds with\n"
        "different settings on different threads take turns (a batch holds its setting\n"
        "while it runs), builds with the same setting run together, and the setting never\n"
        "leaks into another mesh's tree. All meshes of one tvx.batch share one setting.")
        .def(py::init(&meshFromArrays), py::arg("points"), py::arg("triangles"), py::arg("scale_free_axes") = false)
        .def_static("load", &loadMesh, py::arg("path"), py::arg("keep_parts") = false,
                    py::arg("scale_free_axes") = false,
                    "Reads a mesh file (OBJ, STL, PLY, OFF, ..., also gzipped) in a child process;\n"
                    "the meshes of the file are merged. With keep_parts=True, a list of one Mesh a\n"
                    "mesh of the file instead, in the file's order, each with the file's name for it\n"
                    "(name): the parts of one body for tvx.query and tvx.batch, which report which\n"
                    "parts touch. FileNotFoundError for a missing file, ValueError with the reader's\n"
                    "one-line message for a damaged one. scale_free_axes as for Mesh().")
        .def_property_readonly("points", &meshPoints, "The points, an (n, 3) float32 copy.")
        .def_property_readonly("triangles", &meshTriangles, "The triangles, an (m, 3) uint32 copy.")
        .def_property_readonly("n_points", [](Mesh const& s) { return s.data->countPoints(); })
        .def_property_readonly("n_triangles", [](Mesh const& s) { return s.data->countTriangles(); })
        .def_property_readonly("source", [](Mesh const& s) { return s.source; })
        .def_property_readonly("scale_free_axes", [](Mesh const& s) { return s.scaleFreeAxes; },
                               "Whether the tree is built with the scale-free principal axes.")
        .def_property_readonly("name", [](Mesh const& s) { return s.name; },
                               "The part's name in its file (Mesh.load with keep_parts), else empty.")
        .def("build_tree", &Mesh::ensureTree, "Builds the OBB tree now rather than at first use.")
        .def_property_readonly("nbytes", &Mesh::bytes,
            "The bytes the mesh holds: its points and triangles (12 bytes each) and, once built,\n"
            "its tree (28 bytes a box, a box fewer than triangles).")
        .def(py::pickle(&meshState, &meshFromState))
        .def("__repr__", [](Mesh const& s) {
            return "<tvx.Mesh " + std::to_string(s.data->countTriangles()) + " triangles, " +
                   std::to_string(s.data->countPoints()) + " points" +
                   (s.name.empty() ? std::string() : ", part " + s.name) +
                   (s.source.empty() ? std::string() : " from " + s.source) +
                   (s.scaleFreeAxes ? ", scale-free axes" : "") + ">";
        });

    m.def("_batch", &runBatch, py::arg("a"), py::arg("b"), py::arg("poses_b"), py::arg("type"),
          py::arg("threads"), py::arg("tolerance_a"), py::arg("tolerance_b"), py::arg("progress"));
    m.def("pose_matrix", [](py::handle pose) { return matrixArray(placementOf(pose, "pose")); }, py::arg("pose"),
          "The (4, 4) placement of a pose given as 6 numbers tx ty tz rx ry rz (radians; Rz*Ry*Rx, then\n"
          "the translation) or as a rigid (4, 4) matrix, which is checked and returned as is.");
    m.def("pose_matrices", [](py::handle poses) {
        std::vector<double> const v = posesOf(poses, "poses");
        py::ssize_t const n = static_cast<py::ssize_t>(v.size() / 16);
        py::array_t<double> out({n, py::ssize_t(4), py::ssize_t(4)});
        std::copy(v.begin(), v.end(), out.mutable_data());
        return out;
    }, py::arg("poses"), "pose_matrix over an (N, 6) or (N, 4, 4) array.");
    m.attr("default_threads") = std::max(1u, std::thread::hardware_concurrency());
}

} // namespace tvxpy

PYBIND11_MODULE(_tvx, m)
{
    m.doc() = "Collision detection and exact minimum distance between rigid triangle meshes.";
    tvxpy::bindBatch(m);
    tvxpy::bindScene(m);
}
