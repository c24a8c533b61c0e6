#pragma once

// The tool's link to the library: a mesh file turned into a placed collision
// entity, and one query run and summed up in plain values that the commands
// print as text or JSON.

#include "JsonOutput.h"

#include <tools/import/MeshImport.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxObject.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <string>
#include <vector>

class CtvxPoly;

namespace tvxcli {

// One mesh file as a scene-graph object: a polyhedron, or with keepParts an
// assembly of one polyhedron per mesh of the file (regrouped into one tree
// when it is made a collision entity).
struct Body {
    std::string path;
    std::string format;
    std::size_t points = 0;
    std::size_t triangles = 0;
    std::size_t fileVertices = 0;
    std::size_t droppedPointsAndLines = 0;
    std::size_t droppedDegenerate = 0;
    // Axis-aligned bounds of the points in the file's frame.
    double lo[3] = {0, 0, 0};
    double hi[3] = {0, 0, 0};
    double importSeconds = 0.0;
    double buildSeconds = 0.0;

    boost::shared_ptr<CtvxObject> object;
    std::vector<boost::shared_ptr<CtvxPolyhedron>> polyhedra;
    std::vector<std::string> partNames;

    // The triangle set that carries the tree: the polyhedron, or the group
    // of the regrouped assembly.
    boost::shared_ptr<CtvxPoly> treeOwner() const;
    bool keepsParts() const { return polyhedra.size() > 1 || object != polyhedra.front(); }
};

// Reads the file, builds the object and makes it a collision entity (its
// tree is built then, with a progress bar on a terminal for big meshes).
// Throws InputError with the importer's one-line message.
Body loadBody(std::string const& path, tvxio::ImportOptions const& options);

// A box [lo, hi] made in place of a file (format "box", no path), a
// collision entity placed at the identity.
Body boxBody(double const lo[3], double const hi[3]);

// The shape of a mesh in every command's JSON: {"file", "format",
// "triangles", "points", "parts", "import_ms", "build_ms"}; "file" is null
// for a mesh made in place of a file.
Json meshJson(Body const& body);

// A mesh placed in a scene, in every command's JSON: {"mesh": MESH,
// "pose": POSE, "tolerance": t}.
Json sideJson(Body const& body, Pose const& pose, double tolerance);

// The same as a line of text: "A: file  3732 triangles, 2117 points,
// tolerance 0.1  (tree 12.2 ms)".
void printSideText(char const* side, Body const& body, double tolerance);

// One contacting triangle pair, named by part and triangle rank in the part.
struct TrianglePairInfo {
    int triangleA = -1;
    int triangleB = -1;
    std::string partA;
    std::string partB;
    // Ranks of the parts in Body::polyhedra.
    int partIndexA = -1;
    int partIndexB = -1;
};

struct QueryOutcome {
    CtvxAnalysis::EAnalysisType type = CtvxAnalysis::FIRST_COLLISION;
    bool contact = false;
    unsigned int pairCount = 0;
    std::vector<TrianglePairInfo> pairs; // the first ones, at most the asked number
    bool hasClearance = false;           // distance queries that found one (or contact)
    float clearance = 0.0f;
    bool exact = false;
    double closestA[3] = {0, 0, 0};
    double closestB[3] = {0, 0, 0};
    double seconds = 0.0;
    // Every pair was examined (CtvxAnalysis::isComplete): when false, no
    // contact and the clearance are not answers.
    bool complete = true;
};

// The lists of an analysis over two bodies, list 1 holding A and list 2 B.
void setLists(CtvxAnalysis& analysis, Body const& a, Body const& b);

// Runs one query on an analysis whose lists are set, and reads its results.
// maxPairs bounds the pairs copied out (pairCount counts them all).
QueryOutcome runQuery(CtvxAnalysis& analysis, CtvxAnalysis::EAnalysisType type, Body const& a, Body const& b,
                      std::size_t maxPairs);

// "first", "all", "exact", "estimated" and back.
char const* typeName(CtvxAnalysis::EAnalysisType type);
char const* typeTitle(CtvxAnalysis::EAnalysisType type);
bool parseType(std::string const& text, CtvxAnalysis::EAnalysisType& out);

// Places a body's object in the world.
void place(Body const& body, CqarMat4 const& placement);

// A number for text output: up to 9 significant digits, no trailing noise.
std::string fmt(double v, int digits = 9);

// Seconds as milliseconds for text output: "0.123 ms", "9.3 ms", "2030 ms".
std::string msText(double seconds);

} // namespace tvxcli
