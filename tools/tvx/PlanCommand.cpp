// tvx plan: a rigid mesh robot from a start pose to a goal pose among mesh
// obstacles, with the roadmap planner and, when asked, the shrinking
// delegate. A built-in narrow-passage demo shows what shrinking is for.

#include "Bodies.h"
#include "Command.h"
#include "JsonOutput.h"
#include "ViewScene.h"

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/planning/CwdnTVXBody.h>
#include <tvx/planning/CwdnTVXShrinker.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnConfigExtractor.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnPathOptimizer.h>
#include <wdn/CwdnRoadmapBuilder.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace tvxcli {

namespace {

CommandText const kText = {
    "plan",
    "find a collision-free motion of a mesh robot among mesh obstacles",
    "plan (--robot FILE | --robot-box \"hx hy hz\") --obstacles FILE[,FILE...]\n"
    "                --start POSE --goal POSE [options]\n"
    "       tvx plan --demo [options]",
    "Plans a collision-free motion of a rigid robot from a start pose to a goal\n"
    "pose among fixed obstacles, with a probabilistic roadmap. The robot moves\n"
    "freely in space (--joint free) or in the plane z = start z, turning about z\n"
    "only (--joint planar). With --shrink, problems whose start or goal touches an\n"
    "obstacle, or whose passages are too narrow to find, are solved on geometry\n"
    "shrunk step by step about the robot's origin, which is restored afterwards;\n"
    "such a path comes as close to the obstacles as the shrinking allowed.\n"
    "With --optimize the path found is shortened by shortcuts in every mode: on\n"
    "the shrunk geometry when the robot was shrunk, at full size otherwise.\n"
    "The scene must lie within 1e12 of the origin: farther out the clearance\n"
    "that certifies the robot's motions is not answered.\n"
    "\n"
    "--demo: a peg (1 x 0.4 x 0.4) that must pass a square hole of side 0.38 in\n"
    "a plate, starting and ending pushed against the plate. It fails without\n"
    "shrinking and solves with it (planar, --shrink when-needed, --scale 0.95 and\n"
    "--threshold 40 by default). The roadmap needs a passage a few percent of the\n"
    "space wide before its difficulty stays under the threshold, so the peg ends\n"
    "up shrunk well below the size at which it would just fit.\n",
    "no path was found",
};

// Farther from the origin than this the planner cannot work: the estimated
// distance that certifies a motion answers nothing beyond 1e13 (the bound a
// distance query starts from), so the robot would get clearance 0 and every
// motion would be stepped at the resolution, without end in practice. The
// factor 10 keeps whole scenes (two points up to 2 sqrt(3) 1e12 apart)
// inside that range.
constexpr double kLargestCoordinate = 1.0e12;

void checkReach(double const* v, std::size_t n, std::string const& what)
{
    for (std::size_t i = 0; i < n; ++i)
        if (std::fabs(v[i]) > kLargestCoordinate)
            throw UsageError(what + ": " + fmt(v[i]) + " lies beyond 1e12 of the origin, where the planner gets no " +
                             "clearance (move the scene nearer the origin)");
}

struct Scene {
    std::vector<Body> obstacles;
    Body robot;
    double robotSize = 1.0; // diagonal of the robot's bounds
    double lo[3] = {0, 0, 0};
    double hi[3] = {0, 0, 0};
    bool hasBounds = false;

    void addBounds(double const* l, double const* h)
    {
        for (int k = 0; k < 3; ++k) {
            lo[k] = hasBounds ? std::min(lo[k], l[k]) : l[k];
            hi[k] = hasBounds ? std::max(hi[k], h[k]) : h[k];
        }
        hasBounds = true;
    }
};

Body box(double x0, double y0, double z0, double x1, double y1, double z1)
{
    double const lo[3] = {x0, y0, z0};
    double const hi[3] = {x1, y1, z1};
    return boxBody(lo, hi);
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
    throw UsageError("--shrink: '" + text + "' is not one of none, when-needed, first, once");
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

std::string tripleText(double const v[3])
{
    return fmt(v[0]) + " " + fmt(v[1]) + " " + fmt(v[2]);
}

// The obstacles where they stand and the robot at each pose shown (the
// waypoints, or the start and the goal when no path was found).
ViewPage viewOf(Scene const& scene, std::string const& robotName, std::vector<Pose> const& poses, bool isPath,
                double scale, std::vector<std::string> const& facts)
{
    ViewPage page("plan", "Plan of " + robotName);
    CqarMat4 const identity;
    for (std::size_t i = 0; i < scene.obstacles.size(); ++i) {
        Body const& o = scene.obstacles[i];
        addBodyMeshes(page, o, "obstacle " + std::to_string(i + 1) + ": " + shortName(o), "obstacle",
                      obstacleColour(i), identity);
    }
    std::vector<int> const robot = addBodyMeshes(page, scene.robot, "robot: " + robotName, "robot", kViewColourB,
                                                 identity);
    std::vector<double> matrices;
    for (Pose const& p : poses)
        appendMatrix(matrices, poseMatrix(p));
    page.scene()["plan"] = {{"robot", robot}, {"scale", scale}, {"poses", page.addDoubles(matrices)}, {"path", isPath}};
    page.scene()["closest"] = nullptr;
    page.scene()["facts"] = facts;
    return page;
}

class PlanCommand : public Command {
public:
    CommandText const& text() const override { return kText; }

    void addOptions(CLI::App& app) override
    {
        std::string const problem = "Problem", search = "Search";
        addText(app, "--robot", m_robot, "mesh file of the robot", "FILE")->group(problem);
        addText(app, "--robot-box", m_robotBox, "a box robot of these half lengths", "\"hx hy hz\"")->group(problem);
        addText(app, "--obstacles", m_obstacles, "mesh files of the fixed obstacles", "FILE[,FILE...]")
            ->group(problem);
        addText(app, "--start", m_start, "pose of the robot at the start", "POSE")->group(problem);
        addText(app, "--goal", m_goal, "pose of the robot at the goal", "POSE")->group(problem);
        app.add_flag("--demo", m_demo, "the built-in narrow-passage problem")->group(problem);
        addText(app, "--joint", m_joint, "how the robot moves (default free; demo planar)", "free|planar")
            ->group(problem);
        addText(app, "--bounds", m_bounds,
                "box of the robot origin (default: around the obstacles, the start and the goal)",
                "\"x0 y0 z0 x1 y1 z1\"")
            ->group(problem);
        addText(app, "--shrink", m_shrink, "shrinking mode (default none; demo when-needed)",
                "none|when-needed|first|once")
            ->group(search);
        addText(app, "--scale", m_scale, "factor of each shrinking step (default 0.99; demo 0.95)", "S")
            ->group(search);
        addText(app, "--threshold", m_threshold,
                "difficulty that stops a search and shrinks (default 60, demo 40; 0 never stops)", "T")
            ->group(search);
        addText(app, "--max-steps", m_maxSteps, "bound on shrinking turns (default 100)", "N")->group(search);
        app.add_flag("--extract", m_extract, "free colliding ends by a nearby configuration")->group(search);
        app.add_flag("--optimize", m_optimize, "shorten the path found by shortcuts")->group(search);
        addText(app, "--seed", m_seed, "seed of the planner (default 1)", "N")->group(search);
        addText(app, "--max-nodes", m_maxNodes, "nodes per search (default 10000)", "N")->group(search);
        addText(app, "--resolution", m_resolution,
                "travel accepted without a clearance certificate (default 0.5% of the robot size)", "R")
            ->group(search);
        addText(app, "--path-out", m_pathOut, "write the waypoints, one pose \"tx ty tz rx ry rz\" a line", "FILE")
            ->group("Output");
        addViewOption(app, m_view);
        app.footer(kPoseHelp);
    }

    int run(ToolOptions const& tool) override;

private:
    TextOption m_robot, m_robotBox, m_obstacles, m_start, m_goal, m_joint, m_bounds, m_shrink, m_scale,
        m_threshold, m_maxSteps, m_seed, m_maxNodes, m_resolution, m_pathOut, m_view;
    bool m_demo = false, m_extract = false, m_optimize = false;
};

int PlanCommand::run(ToolOptions const& tool)
{
    bool const demo = m_demo;
    Scene scene;
    Pose startPose, goalPose;
    if (demo) {
        if (m_robot.given() || m_robotBox.given() || m_obstacles.given() || m_start.given() || m_goal.given())
            throw UsageError("--demo brings its own robot, obstacles, start and goal");
    } else {
        if (m_robot.given() == m_robotBox.given())
            throw UsageError("give the robot as --robot FILE or --robot-box \"hx hy hz\"");
        if (!m_obstacles.given() || !m_start.given() || !m_goal.given())
            throw UsageError("--obstacles, --start and --goal are required");
        startPose = poseOf(m_start);
        goalPose = poseOf(m_goal);
        checkReach(startPose.translation, 3, "--start");
        checkReach(goalPose.translation, 3, "--goal");
    }
    double bounds[6] = {0, 0, 0, 0, 0, 0};
    if (m_bounds.given()) {
        std::vector<std::string> const v = splitList(m_bounds.value);
        bool ok = v.size() == 6;
        for (std::size_t i = 0; ok && i < 6; ++i)
            ok = parseNumber(v[i], bounds[i]);
        if (!ok || bounds[0] > bounds[3] || bounds[1] > bounds[4] || bounds[2] > bounds[5])
            throw UsageError("--bounds takes \"x0 y0 z0 x1 y1 z1\" with x0 <= x1, y0 <= y1, z0 <= z1");
        checkReach(bounds, 6, "--bounds");
    }
    std::string const jointName = m_joint.given() ? m_joint.value : demo ? "planar" : "free";
    if (jointName != "free" && jointName != "planar")
        throw UsageError("--joint: '" + jointName + "' is not one of free, planar");
    bool const planar = jointName == "planar";
    std::string const modeName = m_shrink.given() ? m_shrink.value : demo ? "when-needed" : "none";
    CwdnTVXShrinker::EMode const mode = parseMode(modeName);
    double const scale = numberOf(m_scale, demo ? 0.95 : 0.99);
    if (!(scale > 0.0 && scale < 1.0))
        throw UsageError("--scale: '" + m_scale.value + "' does not lie strictly between 0 and 1");
    double const threshold = numberOf(m_threshold, demo ? 40.0 : 60.0, true);
    long const maxSteps = wholeOf(m_maxSteps, 100, 1, 100000);
    long const seed = wholeOf(m_seed, 1, 1, 4294967295L);
    long const maxNodes = wholeOf(m_maxNodes, 10000, 10, 10000000);
    double const givenResolution = numberOf(m_resolution, -1.0, true);
    if (planar && (startPose.translation[2] != goalPose.translation[2] || startPose.angles[0] != 0.0 ||
                   startPose.angles[1] != 0.0 || goalPose.angles[0] != 0.0 || goalPose.angles[1] != 0.0))
        throw UsageError("a planar robot keeps its start z and turns about z only");
    if (m_view.given())
        checkViewPath(m_view.value);
    tvxio::ImportOptions const import = tool.importOptions(false);

    if (demo) {
        // The plate x in [-0.05, 0.05] with a square hole |y|, |z| < 0.19,
        // and a peg of half sizes 0.5 x 0.2 x 0.2: 5% too thick for the hole.
        double const h = 0.19, t = 0.05, e = 2.0;
        scene.obstacles.push_back(box(-t, h, -e, t, e, e));
        scene.obstacles.push_back(box(-t, -e, -e, t, -h, e));
        scene.obstacles.push_back(box(-t, -h, h, t, h, e));
        scene.obstacles.push_back(box(-t, -h, -e, t, h, -h));
        scene.robot = box(-0.5, -0.2, -0.2, 0.5, 0.2, 0.2);
        scene.robotSize = std::sqrt(1.0 + 0.16 + 0.16);
        // Pushed 0.002 into the plate's faces, away from the hole.
        startPose.translation[0] = -0.548;
        startPose.translation[1] = 0.8;
        goalPose.translation[0] = 0.548;
        goalPose.translation[1] = -0.8;
        double const lo[3] = {-1.5, -1.5, 0.0}, hi[3] = {1.5, 1.5, 0.0};
        scene.addBounds(lo, hi);
    } else {
        if (m_robot.given()) {
            scene.robot = loadBody(m_robot.value, import);
            checkReach(scene.robot.lo, 3, m_robot.value);
            checkReach(scene.robot.hi, 3, m_robot.value);
        } else {
            std::vector<std::string> const v = splitList(m_robotBox.value);
            double hsz[3];
            if (v.size() != 3 || !parseNumber(v[0], hsz[0]) || !parseNumber(v[1], hsz[1]) ||
                !parseNumber(v[2], hsz[2]) || hsz[0] <= 0 || hsz[1] <= 0 || hsz[2] <= 0)
                throw UsageError("--robot-box takes three positive half lengths");
            checkReach(hsz, 3, "--robot-box");
            scene.robot = box(-hsz[0], -hsz[1], -hsz[2], hsz[0], hsz[1], hsz[2]);
        }
        double d = 0.0;
        for (int k = 0; k < 3; ++k)
            d += (scene.robot.hi[k] - scene.robot.lo[k]) * (scene.robot.hi[k] - scene.robot.lo[k]);
        scene.robotSize = std::sqrt(d);
        for (std::string const& file : splitList(m_obstacles.value)) {
            scene.obstacles.push_back(loadBody(file, import));
            checkReach(scene.obstacles.back().lo, 3, file);
            checkReach(scene.obstacles.back().hi, 3, file);
            scene.addBounds(scene.obstacles.back().lo, scene.obstacles.back().hi);
        }
        scene.addBounds(startPose.translation, startPose.translation);
        scene.addBounds(goalPose.translation, goalPose.translation);
        for (int k = 0; k < 3; ++k) {
            scene.lo[k] -= scene.robotSize;
            scene.hi[k] += scene.robotSize;
        }
    }
    if (m_bounds.given()) {
        for (int k = 0; k < 3; ++k) {
            scene.lo[k] = bounds[k];
            scene.hi[k] = bounds[k + 3];
        }
    }
    double const resolution = givenResolution >= 0.0 ? givenResolution : 0.005 * scene.robotSize;

    // The device: one joint carrying the robot.
    boost::shared_ptr<CwdnDevice> device = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> joint;
    if (planar) {
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
    inner->add(scene.robot.object);
    boost::shared_ptr<CtvxCollisionList> outer = CtvxCollisionList::create();
    for (Body const& o : scene.obstacles)
        outer->add(o.object);
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
        return poseOfMatrix(joint->relativePosition() * m);
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
    if (m_extract)
        shrinker->configExtractor(CwdnConfigExtractor::create(device));
    boost::shared_ptr<CwdnPathOptimizer> const optimizer = m_optimize ? CwdnPathOptimizer::create(device) : nullptr;
    if (optimizer) {
        // When the robot is shrunk, the shrinker shortens the path on the
        // shrunk geometry, where the shortcuts that the shrinking opened are
        // still free; otherwise the path is shortened below, at full size.
        shrinker->pathOptimizer(optimizer);
        shrinker->optimizesBeforeUnshrinking(true);
    }

    bool startCollides = false, goalCollides = false;
    start.isColliding(startCollides);
    goal.isColliding(goalCollides);
    std::string const robotName = demo ? "demo peg" : m_robot.given() ? m_robot.value : "box";
    if (!tool.json) {
        std::printf("robot: %s, %s joint; %s; bounds %s .. %s\n", robotName.c_str(), jointName.c_str(),
                    plural(scene.obstacles.size(), "obstacle object").c_str(), tripleText(scene.lo).c_str(),
                    tripleText(scene.hi).c_str());
        std::printf("start %s%s\ngoal  %s%s\n", poseText(startPose).c_str(), startCollides ? "  (collides)" : "",
                    poseText(goalPose).c_str(), goalCollides ? "  (collides)" : "");
        std::fflush(stdout);
    }

    boost::shared_ptr<CwdnPath> path = CwdnPath::create(device);
    CtvxAnalysis::resetCollisionCount();
    device->resetCounters();
    auto const t0 = std::chrono::steady_clock::now();
    int const result = shrinker->solveProblem(start, goal, path);
    bool const shrunk = shrinker->currentScale() < 1.0;
    double lengthBefore = -1.0;
    if (result == 0 && optimizer && !shrunk) {
        lengthBefore = path->length();
        if (optimizer->optimizePath(path) != 0)
            throw QueryError("the path found could not be optimized");
    }
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::vector<Pose> waypoints;
    if (result == 0) {
        waypoints.push_back(poseOfConfig(path->directPath(0)->start()));
        for (unsigned int i = 0; i < path->countDirectPaths(); ++i)
            waypoints.push_back(poseOfConfig(path->directPath(i)->end()));
    }
    if (tool.json) {
        Json j;
        j["robot"] = meshJson(scene.robot);
        j["obstacles"] = Json::array();
        for (Body const& o : scene.obstacles)
            j["obstacles"].push_back(meshJson(o));
        j["joint"] = jointName;
        j["bounds"] = {{"min", {scene.lo[0], scene.lo[1], scene.lo[2]}}, {"max", {scene.hi[0], scene.hi[1], scene.hi[2]}}};
        j["start"] = {{"pose", poseJson(startPose)}, {"collides", startCollides}};
        j["goal"] = {{"pose", poseJson(goalPose)}, {"collides", goalCollides}};
        j["shrink"] = {{"mode", modeName},
                       {"scale", scale},
                       {"threshold", threshold},
                       {"steps", shrinker->currentStep()},
                       {"scale_reached", shrinker->currentScale()}};
        j["result"] = {{"code", result}, {"solved", result == 0}, {"text", resultText(result)}};
        j["plan_ms"] = milliseconds(seconds);
        j["collision_queries"] = CtvxAnalysis::getCollisionCount();
        j["configurations_checked"] = device->countConfigChecks();
        if (result == 0) {
            Json poses = Json::array();
            for (Pose const& w : waypoints)
                poses.push_back(poseJson(w));
            j["path"] = {{"length", path->length()},
                         {"optimized", m_optimize},
                         {"length_before_optimizing", lengthBefore >= 0.0 ? Json(lengthBefore) : Json(nullptr)},
                         {"waypoints", std::move(poses)}};
        } else {
            j["path"] = nullptr;
        }
        j["view"] = m_view.given() ? Json(m_view.value) : Json(nullptr);
        printJson(j);
    } else {
        std::printf("shrink %s, scale %s per step, threshold %s\n", modeName.c_str(), fmt(scale).c_str(),
                    fmt(threshold).c_str());
        std::printf("result: %s (%d)\n", resultText(result), result);
        std::printf("steps %u, scale reached %s\n", shrinker->currentStep(), fmt(shrinker->currentScale()).c_str());
        std::printf("time %s, collision queries %u, configurations checked %lu\n", msText(seconds).c_str(),
                    CtvxAnalysis::getCollisionCount(), device->countConfigChecks());
        if (result == 0) {
            std::printf("path length %s", fmt(path->length()).c_str());
            if (lengthBefore >= 0.0)
                std::printf(" (%s before optimizing)", fmt(lengthBefore).c_str());
            else if (m_optimize)
                std::printf(" (optimized before restoring the size)");
            std::printf(", %s:\n", plural(waypoints.size(), "waypoint").c_str());
            for (Pose const& w : waypoints)
                std::printf("  %s\n", poseText(w).c_str());
        }
    }
    // Written last, so that a file that cannot be written costs its message
    // and status but not the answer printed above.
    if (m_view.given()) {
        std::vector<Pose> const shown = result == 0 ? waypoints : std::vector<Pose>{startPose, goalPose};
        std::vector<std::string> facts = {
            "robot: " + robotName + ", " + jointName + " joint",
            plural(scene.obstacles.size(), "obstacle object") + ", " + plural(scene.robot.triangles, "robot triangle"),
            std::string("result: ") + resultText(result)};
        if (result == 0)
            facts.push_back("path length " + fmt(path->length()) + ", " + plural(waypoints.size(), "waypoint"));
        if (shrunk)
            facts.push_back("planned with the robot shrunk to " + fmt(shrinker->currentScale()) + " of its size, in " +
                            plural(shrinker->currentStep(), "step"));
        std::fflush(stdout);
        writeView(m_view.value, viewOf(scene, demo ? robotName : shortName(scene.robot), shown, result == 0, shrunk ? shrinker->currentScale() : 1.0,
                                       facts));
        if (!tool.json)
            std::printf("view written to %s\n", m_view.value.c_str());
    }
    if (result == 0 && m_pathOut.given()) {
        std::string lines;
        for (Pose const& w : waypoints)
            lines += poseText(w) + "\n";
        std::fflush(stdout);
        writeFile(m_pathOut.value, lines);
    }
    return result == 0 ? kExitOk : kExitQueryFailed;
}

} // namespace

std::unique_ptr<Command> makePlanCommand()
{
    return std::make_unique<PlanCommand>();
}

} // namespace tvxcli
