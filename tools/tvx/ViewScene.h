#pragma once

// The tool's bodies and answers as a view page (ViewPage.h): the meshes of
// a body with their placement, the triangles in contact, and the colours
// every command draws with.

#include "Bodies.h"
#include "ViewPage.h"

#include <qar/CqarMat4.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tvxcli {

// Colours of the page: the first mesh blue, the second (the moving one, the
// robot) green, obstacles of a plan in cool hues. No mesh is drawn red, the
// colour of contact.
extern char const* const kViewColourA;
extern char const* const kViewColourB;
char const* obstacleColour(std::size_t rank);

// A matrix as the page reads it: 16 numbers, row by row.
Json matrixJson(CqarMat4 const& m);
void appendMatrix(std::vector<double>& out, CqarMat4 const& m);

// Adds one mesh a part of the body to the page's "meshes", all placed by
// placement and named label in the legend; role as the page reads it ("a",
// "b", "obstacle", "robot"). Returns the ranks of the meshes added, one a
// part in the order of body.polyhedra.
std::vector<int> addBodyMeshes(ViewPage& page, Body const& body, std::string const& label, char const* role,
                               char const* colour, CqarMat4 const& placement);

// The triangles in contact of each part of one side (side 0: A, 1: B) of
// the pairs, sorted and each once.
std::vector<std::vector<std::uint32_t>> contactTriangles(std::vector<TrianglePairInfo> const& pairs, int side,
                                                         std::size_t parts);

// The file name without its folder, or what stands for a body without one.
std::string shortName(Body const& body);

// The page, written to path (InputError when it cannot be).
void writeView(std::string const& path, ViewPage const& page);

} // namespace tvxcli
