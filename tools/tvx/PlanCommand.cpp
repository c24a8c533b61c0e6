// tvx plan: a rigid mesh robot from a start pose to a goal pose among mesh
// obstacles, with the roadmap planner and, when asked, the shrinking
// delegate. A built-in narrow-passage demo shows what shrinking is for.

#include "Args.h"
#include "Bodies.h"
#include "Cli.h"
#include "Pose.h"

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/planning/CwdnTVXBody.h>
#include <tvx/planning/CwdnTVXShrinker.h>
#include <tvx/progress/CtvxProgressDelegate.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnConfigExtractor.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnPathOptimizer.h>
#include <wdn/CwdnRoadmap.h>
#include <wdn/CwdnRoadmapBuilder.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace tvxcli {

namespace {

char const kPlanHelp[] =
    "usage: tvx plan (--robot FILE | --robot-box \"hx hy hz\") --obstacles FILE[,FILE...]\n"
    "                --start POSE --goal POSE [options]\n"
    "       tvx plan --demo [options]\n"
    "\n"
    "Plans a collision-free motion of a rigid robot from a start pose to a goal\n"
    "pose among fixed obstacles, with a probabilistic roadmap. The robot moves\n"
    "freely in space (--joint free) or in the plane z = start z, turning about z\n"
    "only (--joint planar). With --shrink, problems whose start or goal touches an\n"
    "obstacle, or whose passages are too narrow to find, are solved on geometry\n"
    "shrunk step by step about the robot's origin, which is restored afterwards;\n"
    "such a path comes as close to the obstacles as the shrinking allowed.\n"
    "\n"
    "--demo: a peg (1 x 0.4 x 0.4) that must pass a square hole of side 0.38 in\n"
    "a plate, starting and ending pushed against the plate. It fails without\n"
    "shrinking and solves with it (planar, --shrink when-needed, --scale 0.95 and\n"
    "--threshold 40 by default). The roadmap needs a passage a few percent of the\n"
    "space wide before its difficulty stays under the threshold, so the peg ends\n"
    "up shrunk well below the size at which it would just fit.\n"
    "\n"
    "options:\n"
    "  --start, --goal \"tx ty tz rx ry rz\"  poses of the robot (radians, Rz*Ry*Rx)\n"
    "  --joint free|planar          how the robot moves (default free; demo planar)\n"
    "  --bounds \"x0 y0 z0 x1 y1 z1\"  box of the robot origin (default: around the\n"
    "                               obstacles, the start and the goal)\n"
    "  --shrink none|when-needed|first|once   shrinking mode (default none)\n"
    "  --scale S                    factor of each shrinking step (default 0.99)\n"
    "  --threshold T                difficulty that stops a search and shrinks\n"
    "                               (default 60; 0 never stops)\n"
    "  --max-steps N                bound on shrinking turns (default 100)\n"
    "  --extract                    free colliding ends by a nearby configuration\n"
    "  --optimize                   shortcut the path (before restoring the size)\n"
    "  --seed N                     seed of the planner (default 1)\n"
    "  --max-nodes N                nodes per search (default 10000)\n"
    "  --resolution R               travel accepted without a clearance\n"
    "                               certificate (default 0.5% of the robot size)\n"
    "  --path-out FILE              write the waypoints, one pose per line\n"
    "\n"
    "exit status: 0 solved, 1 not solved, 2 bad usage or input.\n";

boost::shared_ptr<CtvxProgressDelegate> s_noDelegate;

// A box mesh [lo, hi], a collision entity placed at the identity.
boost::shared_ptr<CtvxPolyhedron> makeBox(double const lo[3], double const hi[3])
{
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create();
    unsigned int rank = 0;
    for (int i = 0; i < 8; ++i)
        p->addPoint(static_cast<float>(i & 1 ? hi[0] : lo[0]), static_cast<float>(i & 2 ? hi[1] : lo[1]),
                    static_cast<float>(i & 4 ? hi[2] : lo[2]), rank);
    static unsigned int const faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                                              {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (auto const& f : faces)
        p->addTriangle(f[0], f[1], f[2], rank);
    p->makeCollisionEntity(s_noDelegate);
    return p;
}

boost::shared_ptr<CtvxPolyhedron> makeBox(double x0, double y0, double z0, double x1, double y1, double z1)
{
    double const lo[3] = {x0, y0, z0};
    double const hi[3] = {x1, y1, z1};
    return makeBox(lo, hi);
}

// The angles of R = Rz Ry Rx.
Pose poseOf(CqarMat4 const& m)
{
    Pose p;
    for (int k = 0; k < 3; ++k)
        p.translation[k] = m(k, 3);
    double const s = std::max(-1.0, std::min(1.0, -m(2, 0)));
    p.angles[1] = std::asin(s);
    p.angles[0] = std::atan2(m(2, 1), m(2, 2));
    p.angles[2] = std::atan2(m(1, 0), m(0, 0));
    return p;
}

std::string poseText(Pose const& p)
{
    std::string out;
    for (double v : {p.translation[0], p.translation[1], p.translation[2], p.angles[0], p.angles[1], p.angles[2]}) {
        if (!out.empty())
            out += ' ';
        out += fmt(std::fabs(v) < 1e-15 ? 0.0 : v);
    }
    return out;
}

struct Scene {
    std::vector<boost::shared_ptr<CtvxObject>> obstacles;
    boost::shared_ptr<CtvxObject> robot;
    double robotSize = 1.0; // diagonal of the robot's bounds
    double lo[3] = {0, 0, 0};
    double hi[3] = {0, 0, 0};
    bool hasBounds = false;
};

void addBounds(Scene& s, double const* lo, double const* hi)
{
    for (int k = 0; k < 3; ++k) {
        s.lo[k] = s.hasBounds ? std::min(s.lo[k], lo[k]) : lo[k];
        s.hi[k] = s.hasBounds ? std::max(s.hi[k], hi[k]) : hi[k];
    }
    s.hasBounds = true;
}

CwdnTVXShrinker::EMode parseMode(std::string const& text)
{
    if (text == "none")
        return CwdnTVXShrinker::NO_SHRINKING;
    if (text == "when-needed")
        return CwdnTVXShrinker::SHRINK_WHEN_NEEDED;
    if (text == "first")
        return CwdnTVXShrinker::SHRINK_FIRST;
    if (text == "once")
        return CwdnTVXShrinker::SHRINK_ONCE;
    throw UsageError("--shrink takes none, when-needed, first or once, not '" + text + "'");
}

char const* resultText(int r)
{
    switch (r) {
    case 0:
        return "solved";
    case CwdnRoadmapBuilder::NO_PATH:
        return "no path found within the bounds (or an end collides)";
    case CwdnRoadmapBuilder::STOPPED:
        return "the search was stopped as too difficult";
    case CwdnRoadmapBuilder::INVALID_PROBLEM:
        return "start or goal collides or lies outside the bounds";
    default:
        return "failed";
    }
}

} // namespace

int runPlan(std::vector<std::string> const& argv)
{
    Args const args(argv, {{"robot", true},
                           {"robot-box", true},
                           {"obstacles", true},
                           {"start", true},
                           {"goal", true},
                           {"joint", true},
                           {"bounds", true},
                           {"shrink", true},
                           {"scale", true},
                           {"threshold", true},
                           {"max-steps", true},
                           {"extract", false},
                           {"optimize", false},
                           {"seed", true},
                           {"max-nodes", true},
                           {"resolution", true},
                           {"path-out", true},
                           {"demo", false}});
    if (args.helpAsked()) {
        std::fputs(kPlanHelp, stdout);
        return kExitOk;
    }
    if (!args.positional().empty())
        throw UsageError("unexpected argument '" + args.positional().front() + "'");
    bool const demo = args.has("demo");

    Scene scene;
    Pose startPose, goalPose;
    if (demo) {
        if (args.has("robot") || args.has("robot-box") || args.has("obstacles") || args.has("start") ||
            args.has("goal"))
            throw UsageError("--demo brings its own robot, obstacles, start and goal");
        // The plate x in [-0.05, 0.05] with a square hole |y|, |z| < 0.19,
        // and a peg of half sizes 0.5 x 0.2 x 0.2: 5% too thick for the hole.
        double const h = 0.19, t = 0.05, e = 2.0;
        scene.obstacles.push_back(makeBox(-t, h, -e, t, e, e));
        scene.obstacles.push_back(makeBox(-t, -e, -e, t, -h, e));
        scene.obstacles.push_back(makeBox(-t, -h, h, t, h, e));
        scene.obstacles.push_back(makeBox(-t, -h, -e, t, h, -h));
        scene.robot = makeBox(-0.5, -0.2, -0.2, 0.5, 0.2, 0.2);
        scene.robotSize = std::sqrt(1.0 + 0.16 + 0.16);
        // Pushed 0.002 into the plate's faces, away from the hole.
        startPose.translation[0] = -0.548;
        startPose.translation[1] = 0.8;
        goalPose.translation[0] = 0.548;
        goalPose.translation[1] = -0.8;
        double const lo[3] = {-1.5, -1.5, 0.0}, hi[3] = {1.5, 1.5, 0.0};
        addBounds(scene, lo, hi);
    } else {
        if (args.has("robot") == args.has("robot-box"))
            throw UsageError("give the robot as --robot FILE or --robot-box \"hx hy hz\"");
        if (!args.has("obstacles") || !args.has("start") || !args.has("goal"))
            throw UsageError("--obstacles, --start and --goal are required");
        if (args.has("robot")) {
            Body robot = loadBody(args.value("robot"), false);
            scene.robot = robot.object;
            double d = 0.0;
            for (int k = 0; k < 3; ++k)
                d += (robot.hi[k] - robot.lo[k]) * (robot.hi[k] - robot.lo[k]);
            scene.robotSize = std::sqrt(d);
        } else {
            std::vector<std::string> const v = splitList(args.value("robot-box"));
            double hsz[3];
            if (v.size() != 3 || !parseNumber(v[0], hsz[0]) || !parseNumber(v[1], hsz[1]) ||
                !parseNumber(v[2], hsz[2]) || hsz[0] <= 0 || hsz[1] <= 0 || hsz[2] <= 0)
                throw UsageError("--robot-box takes three positive half lengths");
            scene.robot = makeBox(-hsz[0], -hsz[1], -hsz[2], hsz[0], hsz[1], hsz[2]);
            scene.robotSize = 2.0 * std::sqrt(hsz[0] * hsz[0] + hsz[1] * hsz[1] + hsz[2] * hsz[2]);
        }
        for (std::string const& file : splitList(args.value("obstacles"))) {
            Body b = loadBody(file, false);
            scene.obstacles.push_back(b.object);
            addBounds(scene, b.lo, b.hi);
        }
        startPose = parsePose(args.value("start"), "--start");
        goalPose = parsePose(args.value("goal"), "--goal");
        addBounds(scene, startPose.translation, startPose.translation);
        addBounds(scene, goalPose.translation, goalPose.translation);
        for (int k = 0; k < 3; ++k) {
            scene.lo[k] -= scene.robotSize;
            scene.hi[k] += scene.robotSize;
        }
    }
    if (args.has("bounds")) {
        std::vector<std::string> const v = splitList(args.value("bounds"));
        double b[6];
        bool ok = v.size() == 6;
        for (std::size_t i = 0; ok && i < 6; ++i)
            ok = parseNumber(v[i], b[i]);
        if (!ok || b[0] > b[3] || b[1] > b[4] || b[2] > b[5])
            throw UsageError("--bounds takes \"x0 y0 z0 x1 y1 z1\" with x0 <= x1, y0 <= y1, z0 <= z1");
        for (int k = 0; k < 3; ++k) {
            scene.lo[k] = b[k];
            scene.hi[k] = b[k + 3];
        }
    }
    std::string const jointName = args.value("joint", demo ? "planar" : "free");
    if (jointName != "free" && jointName != "planar")
        throw UsageError("--joint takes free or planar");
    bool const planar = jointName == "planar";
    CwdnTVXShrinker::EMode const mode = parseMode(args.value("shrink", demo ? "when-needed" : "none"));
    double const scale = args.number("scale", demo ? 0.95 : 0.99);
    if (!(scale > 0.0 && scale < 1.0))
        throw UsageError("--scale must lie strictly between 0 and 1");
    double const threshold = args.number("threshold", demo ? 40.0 : 60.0);
    if (threshold < 0.0)
        throw UsageError("--threshold must not be negative");
    long const maxSteps = args.integer("max-steps", 100, 1, 100000);
    long const seed = args.integer("seed", 1, 1, 4294967295L);
    long const maxNodes = args.integer("max-nodes", 10000, 10, 10000000);
    double const resolution = args.number("resolution", 0.005 * scene.robotSize);
    if (!(resolution >= 0.0))
        throw UsageError("--resolution must not be negative");

    // The device: one joint carrying the robot.
    boost::shared_ptr<CwdnDevice> device = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> joint;
    if (planar) {
        if (startPose.translation[2] != goalPose.translation[2] || startPose.angles[0] != 0.0 ||
            startPose.angles[1] != 0.0 || goalPose.angles[0] != 0.0 || goalPose.angles[1] != 0.0)
            throw UsageError("a planar robot keeps its start z and turns about z only");
        joint = CwdnJoint::createPlanar(scene.lo[0], scene.hi[0], scene.lo[1], scene.hi[1]);
        CqarMat4 plane;
        plane(2, 3) = startPose.translation[2];
        joint->relativePosition(plane);
    } else {
        joint = CwdnJoint::createFreeFlyer(CqarVect3(scene.lo[0], scene.lo[1], scene.lo[2]),
                                           CqarVect3(scene.hi[0], scene.hi[1], scene.hi[2]));
    }
    device->addJoint(joint);
    device->movingObstacles(false);
    device->resolution(resolution);
    boost::shared_ptr<CwdnTVXBody> body = CwdnTVXBody::create();
    boost::shared_ptr<CtvxCollisionList> inner = CtvxCollisionList::create();
    inner->add(scene.robot);
    boost::shared_ptr<CtvxCollisionList> outer = CtvxCollisionList::create();
    for (auto const& o : scene.obstacles)
        outer->add(o);
    body->setInnerObjects(inner);
    body->setOuterObjects(outer);
    joint->addBody(body);

    auto configOf = [&](Pose const& p) {
        CwdnConfig c(device);
        CqarMat4 m = poseMatrix(p);
        if (planar)
            m(2, 3) = 0.0;
        joint->valuesOfMotion(m, c.data());
        return c;
    };
    auto poseOfConfig = [&](CwdnConfig const& c) {
        CqarMat4 m;
        joint->motion(c.data(), m);
        return poseOf(joint->relativePosition() * m);
    };
    CwdnConfig const start = configOf(startPose);
    CwdnConfig const goal = configOf(goalPose);
    for (int k = 0; k < 3; ++k) {
        if ((!planar || k < 2) && (startPose.translation[k] < scene.lo[k] || startPose.translation[k] > scene.hi[k] ||
                                   goalPose.translation[k] < scene.lo[k] || goalPose.translation[k] > scene.hi[k]))
            throw UsageError("start and goal must lie inside the bounds");
    }

    boost::shared_ptr<CwdnRoadmapBuilder> builder = CwdnRoadmapBuilder::create(device);
    builder->seed(static_cast<unsigned long>(seed));
    builder->maxNodes(static_cast<unsigned int>(maxNodes));
    boost::shared_ptr<CwdnTVXShrinker> shrinker = CwdnTVXShrinker::create();
    shrinker->builder(builder);
    shrinker->mode(mode);
    shrinker->scale(scale);
    shrinker->difficultyTreshold(threshold);
    shrinker->maxSteps(static_cast<unsigned int>(maxSteps));
    if (args.has("extract"))
        shrinker->configExtractor(CwdnConfigExtractor::create(device));
    if (args.has("optimize")) {
        shrinker->pathOptimizer(CwdnPathOptimizer::create(device));
        shrinker->optimizesBeforeUnshrinking(true);
    }

    bool startCollides = false, goalCollides = false;
    start.isColliding(startCollides);
    goal.isColliding(goalCollides);
    std::printf("robot: %s, %s joint; %zu obstacle object%s; bounds %s .. %s\n",
                demo ? "demo peg" : (args.has("robot") ? args.value("robot").c_str() : "box"), jointName.c_str(),
                scene.obstacles.size(), scene.obstacles.size() == 1 ? "" : "s",
                (fmt(scene.lo[0]) + " " + fmt(scene.lo[1]) + " " + fmt(scene.lo[2])).c_str(),
                (fmt(scene.hi[0]) + " " + fmt(scene.hi[1]) + " " + fmt(scene.hi[2])).c_str());
    std::printf("start %s%s\ngoal  %s%s\n", poseText(startPose).c_str(), startCollides ? "  (collides)" : "",
                poseText(goalPose).c_str(), goalCollides ? "  (collides)" : "");

    boost::shared_ptr<CwdnPath> path = CwdnPath::create(device);
    CtvxAnalysis::resetCollisionCount();
    device->resetCounters();
    auto const t0 = std::chrono::steady_clock::now();
    int const result = shrinker->solveProblem(start, goal, path);
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::printf("shrink %s, scale %s per step, threshold %s\n", args.value("shrink", demo ? "when-needed" : "none").c_str(),
                fmt(scale).c_str(), fmt(threshold).c_str());
    std::printf("result: %s (%d)\n", resultText(result), result);
    std::printf("steps %u, scale reached %s\n", shrinker->currentStep(), fmt(shrinker->currentScale()).c_str());
    std::printf("time %s s, collision queries %u, configurations checked %lu\n", fmt(seconds, 4).c_str(),
                CtvxAnalysis::getCollisionCount(), device->countConfigChecks());
    if (result != 0)
        return kExitQueryFailed;

    std::printf("path length %s, %u waypoints:\n", fmt(path->length()).c_str(), path->countDirectPaths() + 1);
    std::vector<std::string> lines;
    lines.push_back(poseText(poseOfConfig(path->directPath(0)->start())));
    for (unsigned int i = 0; i < path->countDirectPaths(); ++i)
        lines.push_back(poseText(poseOfConfig(path->directPath(i)->end())));
    for (std::string const& l : lines)
        std::printf("  %s\n", l.c_str());
    if (args.has("path-out")) {
        std::ofstream out(args.value("path-out"));
        for (std::string const& l : lines)
            out << l << '\n';
        if (!out)
            throw InputError("cannot write " + args.value("path-out"));
    }
    return kExitOk;
}

} // namespace tvxcli
