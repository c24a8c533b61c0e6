// Scenes of many objects beside FCL's DynamicAABBTreeCollisionManager: the
// same shared meshes at the same placements, every contact between objects
// found by both, frame after frame.
//
//   manager_compare [options]
//
// Options: --sizes N,N,... (100,1000,3000,10000), --scenes cubes,mix (both),
// --contacts one|all (one: ALL_COLLISIONS with one contact per object pair
// against FCL asked for one contact; all: every triangle pair in contact by
// both), --modes 0,1,2,3 (the four queries below, all by default),
// --frames F (50), --repeat R (3: the frame sequence of each scene is run R
// times, times are medians over all of them), --seed S (1), --cad FILE (the
// CAD part of the mix; default the robot part of the shared meshes, a torus
// when that file is absent), --crossover N,N,... (instead of the comparison:
// one list of N spheres against itself, each pair once, queried F times with
// the broad phase and F times without, for callgrind; see below; --type
// first|all|exact|estimated, all by default).
//
// Scenes. "cubes": unit cubes. "mix": a CAD part and an icosphere (320
// triangles), each fitted into a unit box and used at three scales (0.6, 1,
// 1.4), half and half; every object turned at random. Objects sharing a mesh
// and a scale share one polyhedron data (one tree) with us and one BVH model
// (OBBRSS) with FCL. Centres are uniform in a cube whose side grows with the
// cube root of N so that about one object in ten touches another (the
// fraction is printed).
//
// Each scene is queried four ways, in turn frame by frame so that both
// libraries see the same machine load:
//   static, one list: our ALL_COLLISIONS of the list against itself, each
//     pair once; FCL's manager collide() over itself;
//   static, two lists: the first half against the second; FCL two managers;
//   moving, one list / two lists: before each frame every object turns and
//     shifts a little (at most 0.02 rad and 0.02 along each axis); ours
//     absolutePosition() on each object, FCL setTransform() and
//     computeAABB() on each object and update() on its manager(s).
//     --movers P (100) moves only the objects whose rank modulo 100 is
//     below P, the others staying where they are.
// FCL's narrow phase is its collide() on the two objects (OBBRSS trees),
// called from the manager's callback. Times are steady
// clock, per frame, medians; "setup" is making the objects (trees of the
// shared meshes included) and the lists or managers (FCL's setup()), and
// "first" the first query of a fresh analysis of type FIRST_COLLISION
// against FCL's collide() stopped at the first contact (ours builds its
// broad phase there; FCL's manager was set up with the objects). Setup times
// are medians over the repeats. Memory: heap bytes
// (mallinfo2) per object for the objects and lists or managers, and the
// bytes the broad phase keeps per object.
//
// Agreement: the sets of object pairs in contact must be the same in every
// frame of every query; the program exits with 3 when they differ anywhere
// (and prints the first differences), 2 on bad usage, 0 otherwise.
//
// Crossover. `--crossover 2,4,...` builds one list of N spheres in a row,
// none touching, moves them all a little and queries the list against
// itself F times (--frames) with the broad phase switched off, then F times
// with it switched on (--use never|always selects one of the two). Run under
//   valgrind --tool=callgrind --collect-atstart=no
//     --toggle-collect='CtvxAnalysis::compute()'
//     build/release/bench/manager_compare --crossover N --frames 100 --use never
// the instruction counts of the two runs, divided by F, are the cost of one
// query each way.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/internal/CtvxBroadPhase.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/Meshes.h>
#include <tests/support/QueryRecord.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>

#include <fcl/broadphase/broadphase_dynamic_AABB_tree.h>
#include <fcl/fcl.h>

#include <bench/FclPlacement.h>

#include <qar/CqarMat4.h>

#include <malloc.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using tvxtest::Affine;
typedef std::set<std::pair<int, int>> PairSet;

// Contacts asked of each object pair (--contacts one|all): one, as a host
// that wants which objects touch asks (ours setOneContactPerPair, FCL one
// contact), or every triangle pair in contact (ours plain ALL_COLLISIONS,
// FCL 10^8 contacts).
bool g_oneContact = true;
// Percent of the objects moved before each moving frame (--movers).
int g_movers = 100;

bool movesEachFrame(std::size_t k)
{
    return static_cast<int>(k % 100) < g_movers;
}
std::size_t fclContacts()
{
    return g_oneContact ? 1 : 100000000;
}
// The queries run (--modes): static one list, static two lists, moving one
// list, moving two lists.
bool g_modes[4] = {true, true, true, true};
// The query type of --crossover (--type first|all|exact|estimated).
CtvxAnalysis::EAnalysisType g_crossoverType = CtvxAnalysis::ALL_COLLISIONS;


double millisecondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

std::size_t heapBytes()
{
    struct mallinfo2 const m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// A mesh fitted into a unit box centred at the origin and scaled.
tvxtest::Mesh fitted(tvxtest::Mesh m, double scale)
{
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (auto const& p : m.points)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    double const size = std::max(hi[0] - lo[0], std::max(hi[1] - lo[1], hi[2] - lo[2]));
    for (auto& p : m.points)
        for (int k = 0; k < 3; ++k)
            p[k] = (p[k] - 0.5 * (lo[k] + hi[k])) / size * scale;
    return m;
}

// Vertices and triangles of an OBJ file, polygons fanned into triangles;
// empty when the file cannot be read.
tvxtest::Mesh readObj(std::string const& path)
{
    tvxtest::Mesh m;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string tag;
        s >> tag;
        if (tag == "v") {
            std::array<double, 3> p{};
            s >> p[0] >> p[1] >> p[2];
            m.points.push_back(p);
        } else if (tag == "f") {
            std::vector<unsigned> idx;
            std::string w;
            while (s >> w)
                idx.push_back(static_cast<unsigned>(std::atoi(w.c_str()) - 1));
            for (std::size_t k = 2; k < idx.size(); ++k)
                m.triangles.push_back({idx[0], idx[k - 1], idx[k]});
        }
    }
    return m;
}

struct Shape {
    boost::shared_ptr<CtvxPolyhedronData> data;
    std::shared_ptr<fcl::BVHModel<fcl::OBBRSS<double>>> model;
};

// One scene in both libraries.
struct Scene {
    std::vector<Shape> shapes;
    std::vector<int> shapeOf;
    std::vector<Affine> poses;
    // Ours.
    std::vector<boost::shared_ptr<CtvxPolyhedron>> objects;
    boost::shared_ptr<CtvxCollisionList> all, half1, half2;
    boost::shared_ptr<CtvxAnalysis> self, halves;
    std::vector<std::pair<CtvxObject const*, int>> index; // sorted by pointer
    // FCL.
    std::vector<std::unique_ptr<fcl::CollisionObjectd>> fclObjects;
    fcl::DynamicAABBTreeCollisionManagerd fclAll, fclHalf1, fclHalf2;
    double setupOurs = 0, setupFcl = 0;
    double bytesOurs = 0, bytesFcl = 0;
};

void makeShapes(Scene& s, std::string const& kind, tvxtest::Mesh const& cad)
{
    std::vector<tvxtest::Mesh> meshes;
    if (kind == "cubes") {
        meshes.push_back(tvxtest::makeBox(0.5, 0.5, 0.5));
    } else {
        for (double scale : {0.6, 1.0, 1.4}) {
            meshes.push_back(fitted(cad, scale));
            meshes.push_back(fitted(tvxtest::makeIcosphere(2, 1.0), scale));
        }
    }
    for (auto const& m : meshes) {
        Shape sh;
        sh.data = tvxtest::makePolyData(m);
        // FCL reads the very floats we store.
        std::vector<fcl::Vector3d> v(sh.data->countPoints());
        for (unsigned int i = 0; i < v.size(); ++i) {
            float x, y, z;
            sh.data->getPoint(i, x, y, z);
            v[i] = fcl::Vector3d(x, y, z);
        }
        std::vector<fcl::Triangle> t(m.triangles.size());
        for (std::size_t i = 0; i < t.size(); ++i)
            t[i] = fcl::Triangle(m.triangles[i][0], m.triangles[i][1], m.triangles[i][2]);
        // FCL's trees are built here, ours with the first object of each
        // shape: both are counted in the setup.
        Clock::time_point const t0 = Clock::now();
        sh.model = std::make_shared<fcl::BVHModel<fcl::OBBRSS<double>>>();
        sh.model->beginModel(static_cast<int>(t.size()), static_cast<int>(v.size()));
        sh.model->addSubModel(v, t);
        sh.model->endModel();
        s.setupFcl += millisecondsSince(t0);
        s.shapes.push_back(sh);
    }
}

void build(Scene& s, int n, std::uint32_t seed)
{
    tvxtest::Random rng(seed);
    double const side = 4.2 * std::cbrt(static_cast<double>(n));
    for (int k = 0; k < n; ++k) {
        s.shapeOf.push_back(static_cast<int>(rng.below(static_cast<std::uint32_t>(s.shapes.size()))));
        Affine p = tvxtest::randomRigid(rng, 0.0);
        for (double& t : p.t)
            t = rng.uniform(0.0, side);
        s.poses.push_back(p);
    }
    boost::shared_ptr<CtvxProgressDelegate> none;
    std::size_t heap = heapBytes();
    Clock::time_point t0 = Clock::now();
    s.all = CtvxCollisionList::create();
    s.half1 = CtvxCollisionList::create();
    s.half2 = CtvxCollisionList::create();
    for (int k = 0; k < n; ++k) {
        boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(s.shapes[s.shapeOf[k]].data);
        p->makeCollisionEntity(none);
        p->absolutePosition(tvxtest::toQar(s.poses[k]));
        s.all->add(p);
        (k < n / 2 ? s.half1 : s.half2)->add(p);
        s.objects.push_back(p);
    }
    s.setupOurs = millisecondsSince(t0);
    s.bytesOurs = static_cast<double>(heapBytes() - heap) / n;
    s.self = tvxtest::analysisOf(s.all, s.all, CtvxAnalysis::ALL_COLLISIONS);
    s.self->setEachPairOnce(true);
    s.self->setOneContactPerPair(g_oneContact);
    s.halves = tvxtest::analysisOf(s.half1, s.half2, CtvxAnalysis::ALL_COLLISIONS);
    s.halves->setOneContactPerPair(g_oneContact);
    for (int k = 0; k < n; ++k)
        s.index.emplace_back(s.objects[k].get(), k);
    std::sort(s.index.begin(), s.index.end());

    heap = heapBytes();
    t0 = Clock::now();
    std::vector<fcl::CollisionObjectd*> all, h1, h2;
    for (int k = 0; k < n; ++k) {
        s.fclObjects.emplace_back(new fcl::CollisionObjectd(s.shapes[s.shapeOf[k]].model, toFcl(s.poses[k])));
        s.fclObjects.back()->setUserData(reinterpret_cast<void*>(static_cast<std::intptr_t>(k)));
        all.push_back(s.fclObjects.back().get());
        (k < n / 2 ? h1 : h2).push_back(s.fclObjects.back().get());
    }
    s.fclAll.registerObjects(all);
    s.fclAll.setup();
    s.fclHalf1.registerObjects(h1);
    s.fclHalf1.setup();
    s.fclHalf2.registerObjects(h2);
    s.fclHalf2.setup();
    s.setupFcl += millisecondsSince(t0);
    s.bytesFcl = static_cast<double>(heapBytes() - heap) / n;
}

int indexOf(Scene const& s, boost::shared_ptr<CtvxObject> const& o)
{
    auto const it = std::lower_bound(s.index.begin(), s.index.end(), std::make_pair(static_cast<CtvxObject const*>(o.get()), -1));
    return it != s.index.end() && it->first == o.get() ? it->second : -1;
}

PairSet ourPairs(Scene const& s, CtvxAnalysis const& a)
{
    PairSet out;
    for (unsigned int c = 0; c < a.countCollisions(); ++c) {
        boost::shared_ptr<CtvxCollision> col;
        a.getCollision(c, col);
        auto const o = tvxtest::objectsOf(*col);
        int const i = indexOf(s, o.first), j = indexOf(s, o.second);
        out.insert({std::min(i, j), std::max(i, j)});
    }
    return out;
}

struct FclCollect {
    PairSet pairs;
    bool stopAtFirst = false;
};

bool fclCallback(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data)
{
    FclCollect& c = *static_cast<FclCollect*>(data);
    fcl::CollisionRequestd req(fclContacts(), false);
    fcl::CollisionResultd res;
    fcl::collide(o1, o2, req, res);
    if (res.isCollision()) {
        int const i = static_cast<int>(reinterpret_cast<std::intptr_t>(o1->getUserData()));
        int const j = static_cast<int>(reinterpret_cast<std::intptr_t>(o2->getUserData()));
        c.pairs.insert({std::min(i, j), std::max(i, j)});
        return c.stopAtFirst;
    }
    return false;
}

void moveAll(Scene& s, tvxtest::Random& rng)
{
    for (std::size_t k = 0; k < s.poses.size(); ++k) {
        if (!movesEachFrame(k))
            continue;
        Affine const turn = Affine::rotation(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1) + 1e-3,
                                             rng.uniform(-0.02, 0.02));
        Affine p = s.poses[k] * turn;
        for (double& t : p.t)
            t += rng.uniform(-0.02, 0.02);
        s.poses[k] = p;
    }
}

struct Figures {
    std::vector<double> ours[4], fcl[4]; // static self, static halves, moving self, moving halves
    long long pairs[4] = {0, 0, 0, 0};
    int frames[4] = {0, 0, 0, 0};
    int disagreements = 0;
    double firstOurs = 0, firstFcl = 0;
    std::vector<double> setupOurs, setupFcl;
    double bytesOurs = 0, bytesFcl = 0, broadBytes = 0;
    double touching = 0;
};

void report(PairSet const& a, PairSet const& b, char const* what, int frame, Figures& f)
{
    if (a == b)
        return;
    if (++f.disagreements <= 3) {
        std::printf("  DISAGREEMENT %s frame %d: ours %zu pairs, FCL %zu pairs;", what, frame, a.size(), b.size());
        int shown = 0;
        for (auto const& p : a)
            if (!b.count(p) && shown++ < 4)
                std::printf(" ours only %d-%d", p.first, p.second);
        for (auto const& p : b)
            if (!a.count(p) && shown++ < 8)
                std::printf(" FCL only %d-%d", p.first, p.second);
        std::printf("\n");
    }
}

void run(std::string const& kind, int n, int frames, int repeat, std::uint32_t seed, tvxtest::Mesh const& cad,
         Figures& f)
{
    char const* const names[4] = {"static self", "static halves", "moving self", "moving halves"};
    for (int r = 0; r < repeat; ++r) {
        Scene s;
        makeShapes(s, kind, cad);
        build(s, n, seed);
        f.setupOurs.push_back(s.setupOurs);
        f.setupFcl.push_back(s.setupFcl);
        if (r == 0) {
            f.bytesOurs = s.bytesOurs;
            f.bytesFcl = s.bytesFcl;
            // The first contact, on a fresh analysis and a fresh manager.
            boost::shared_ptr<CtvxAnalysis> first = tvxtest::analysisOf(s.all, s.all, CtvxAnalysis::FIRST_COLLISION);
            Clock::time_point t0 = Clock::now();
            first->compute();
            f.firstOurs = millisecondsSince(t0);
            FclCollect c;
            c.stopAtFirst = true;
            t0 = Clock::now();
            s.fclAll.collide(&c, fclCallback);
            f.firstFcl = millisecondsSince(t0);
            if ((first->countCollisions() > 0) != !c.pairs.empty())
                report(PairSet{{0, 0}}, PairSet{}, "first contact", 0, f);
        }
        tvxtest::Random motion(seed + 99);
        for (int mode = 0; mode < 4; ++mode) {
            if (!g_modes[mode])
                continue;
            bool const moving = mode >= 2, halves = mode % 2 == 1;
            for (int frame = 0; frame < frames; ++frame) {
                if (moving)
                    moveAll(s, motion);
                // Ours.
                Clock::time_point t0 = Clock::now();
                if (moving)
                    for (std::size_t k = 0; k < s.objects.size(); ++k)
                        if (movesEachFrame(k))
                            s.objects[k]->absolutePosition(tvxtest::toQar(s.poses[k]));
                CtvxAnalysis& an = halves ? *s.halves : *s.self;
                an.compute();
                f.ours[mode].push_back(millisecondsSince(t0));
                PairSet const ours = ourPairs(s, an);
                // FCL.
                FclCollect c;
                t0 = Clock::now();
                if (moving) {
                    for (std::size_t k = 0; k < s.fclObjects.size(); ++k) {
                        if (!movesEachFrame(k))
                            continue;
                        s.fclObjects[k]->setTransform(toFcl(s.poses[k]));
                        s.fclObjects[k]->computeAABB();
                    }
                    if (halves) {
                        s.fclHalf1.update();
                        s.fclHalf2.update();
                    } else {
                        s.fclAll.update();
                    }
                }
                if (halves)
                    s.fclHalf1.collide(&s.fclHalf2, &c, fclCallback);
                else
                    s.fclAll.collide(&c, fclCallback);
                f.fcl[mode].push_back(millisecondsSince(t0));
                report(ours, c.pairs, names[mode], frame, f);
                f.pairs[mode] += static_cast<long long>(ours.size());
                ++f.frames[mode];
                if (mode == 0 && frame == 0 && r == 0) {
                    std::set<int> touching;
                    for (auto const& p : ours) {
                        touching.insert(p.first);
                        touching.insert(p.second);
                    }
                    f.touching = static_cast<double>(touching.size()) / n;
                }
            }
        }
        f.broadBytes = static_cast<double>(tvxtest::AnalysisProbe::broadPhaseBytes(*s.self)) / n;
    }
}

std::vector<int> parseList(char const* s)
{
    std::vector<int> out;
    std::stringstream in(s);
    std::string w;
    while (std::getline(in, w, ','))
        out.push_back(std::atoi(w.c_str()));
    return out;
}

int crossover(std::vector<int> const& sizes, int frames, std::string const& use)
{
    tvxtest::Mesh const sphere = tvxtest::makeIcosphere(2, 0.5);
    boost::shared_ptr<CtvxPolyhedronData> data = tvxtest::makePolyData(sphere);
    boost::shared_ptr<CtvxProgressDelegate> none;
    for (int n : sizes) {
        // Spheres of radius 0.5 in a row, 1.2 apart: neighbours 0.2 apart,
        // none touching; every one moves a little before every query, the
        // broad phase's worst case (it re-reads every entry).
        boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
        std::vector<boost::shared_ptr<CtvxPolyhedron>> spheres;
        for (int k = 0; k < n; ++k) {
            boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(data);
            p->makeCollisionEntity(none);
            l->add(p);
            spheres.push_back(p);
        }
        boost::shared_ptr<CtvxAnalysis> an = tvxtest::analysisOf(l, l, g_crossoverType);
        an->setEachPairOnce(true);
        for (char const* mode : {"never", "always"}) {
            if (!use.empty() && use != mode)
                continue;
            tvxtest::AnalysisProbe::broadPhase(*an, std::strcmp(mode, "never") == 0 ? CtvxBroadPhase::NEVER
                                                                                   : CtvxBroadPhase::ALWAYS);
            double ms = 0.0;
            for (int f = 0; f < frames; ++f) {
                for (int k = 0; k < n; ++k) {
                    Affine a;
                    a.t[0] = 1.2 * k;
                    a.t[1] = 0.01 * ((f + k) % 3);
                    spheres[static_cast<std::size_t>(k)]->absolutePosition(tvxtest::toQar(a));
                }
                Clock::time_point const t0 = Clock::now();
                an->compute();
                ms += millisecondsSince(t0);
            }
            std::printf("crossover N=%d %s: %u contacts, %u distances, %.2f us a query (wall clock; use "
                        "callgrind)\n",
                        n, mode, an->countCollisions(), an->countDistances(), 1000.0 * ms / frames);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes = {100, 1000, 3000, 10000};
    std::vector<std::string> scenes = {"cubes", "mix"};
    std::vector<int> crossoverSizes;
    std::string use;
    int frames = 50, repeat = 3;
    std::uint32_t seed = 1;
    std::string cadPath = "/work/shared/meshes/rob.obj";
    for (int i = 1; i < argc; ++i) {
        std::string const a = argv[i];
        bool const more = i + 1 < argc;
        if (a == "--sizes" && more) {
            sizes = parseList(argv[++i]);
        } else if (a == "--scenes" && more) {
            scenes.clear();
            std::stringstream in(argv[++i]);
            std::string w;
            while (std::getline(in, w, ','))
                scenes.push_back(w);
        } else if (a == "--frames" && more) {
            frames = std::atoi(argv[++i]);
        } else if (a == "--repeat" && more) {
            repeat = std::atoi(argv[++i]);
        } else if (a == "--seed" && more) {
            seed = static_cast<std::uint32_t>(std::atoi(argv[++i]));
        } else if (a == "--cad" && more) {
            cadPath = argv[++i];
        } else if (a == "--crossover" && more) {
            crossoverSizes = parseList(argv[++i]);
        } else if (a == "--use" && more) {
            use = argv[++i];
        } else if (a == "--type" && more) {
            std::string const t = argv[++i];
            g_crossoverType = t == "first"   ? CtvxAnalysis::FIRST_COLLISION
                              : t == "exact" ? CtvxAnalysis::EXACT_DISTANCE
                              : t == "estimated" ? CtvxAnalysis::ESTIMATED_DISTANCE
                                                 : CtvxAnalysis::ALL_COLLISIONS;
        } else if (a == "--modes" && more) {
            std::vector<int> const m = parseList(argv[++i]);
            for (int k = 0; k < 4; ++k)
                g_modes[k] = std::find(m.begin(), m.end(), k) != m.end();
        } else if (a == "--movers" && more) {
            g_movers = std::atoi(argv[++i]);
        } else if (a == "--contacts" && more) {
            g_oneContact = std::strcmp(argv[++i], "all") != 0;
        } else {
            std::fprintf(stderr, "usage: manager_compare [--sizes N,...] [--scenes cubes,mix] [--frames F] "
                                 "[--repeat R] [--seed S] [--cad FILE] [--movers P] [--crossover N,... [--use never|always]]\n");
            return 2;
        }
    }
    if (frames < 1 || repeat < 1)
        return 2;
    if (!crossoverSizes.empty())
        return crossover(crossoverSizes, frames, use);

    tvxtest::Mesh cad = readObj(cadPath);
    char const* cadName = "robot part";
    if (cad.triangles.empty()) {
        cad = tvxtest::makeTorus(24, 12, 1.0, 0.35);
        cadName = "torus (no CAD file)";
    }
    int disagreements = 0;
    std::printf("ours / FCL 0.7 DynamicAABBTreeCollisionManager, OBBRSS narrow phase (ratio); %s contact%s an object "
                "pair; ms, medians over %d frames x %d; mix: %s and a sphere\n",
                g_oneContact ? "one" : "every", g_oneContact ? "" : "ing triangle pair of", frames, repeat, cadName);
    std::printf("%-5s %5s %6s | %-21s | %-21s | %-21s | %-21s | %-21s | %-15s | %s\n", "scene", "N", "touch",
                "static, one list", "static, two lists", "moving, one list", "moving, two lists", "setup",
                "first contact", "bytes/object ours/FCL, broad");
    for (std::string const& kind : scenes) {
        for (int n : sizes) {
            Figures f;
            run(kind, n, frames, repeat, seed, cad, f);
            std::printf("%-5s %5d %5.1f%% |", kind.c_str(), n, 100.0 * f.touching);
            for (int m = 0; m < 4; ++m) {
                double const o = median(f.ours[m]), c = median(f.fcl[m]);
                std::printf(" %6.3f / %6.3f (%4.2f) |", o, c, o / c);
            }
            double const so = median(f.setupOurs), sf = median(f.setupFcl);
            std::printf(" %6.2f / %6.2f (%4.2f) | %6.3f / %6.3f | %4.0f / %4.0f, %4.0f\n", so, sf, so / sf,
                        f.firstOurs, f.firstFcl, f.bytesOurs, f.bytesFcl, f.broadBytes);
            std::printf("      pairs in contact a frame: %lld, %lld, %lld, %lld; %s\n",
                        f.pairs[0] / std::max(1, f.frames[0]), f.pairs[1] / std::max(1, f.frames[1]),
                        f.pairs[2] / std::max(1, f.frames[2]), f.pairs[3] / std::max(1, f.frames[3]),
                        f.disagreements ? "THE LIBRARIES DISAGREE" : "both found the same pairs in every frame");
            std::fflush(stdout);
            disagreements += f.disagreements;
        }
    }
    return disagreements ? 3 : 0;
}
