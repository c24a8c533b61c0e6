#pragma once

// Turns imported plain arrays into library objects. Header-only on purpose:
// the importer itself does not depend on the library, and a consumer links
// whichever form of the library it uses (the shared one or the test archive).

#include "MeshImport.h"

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>

#include <boost/shared_ptr.hpp>

namespace tvxio {

// The part's points and triangles, stored as they are (same ranks, same
// floats: nothing is transformed on the way).
inline boost::shared_ptr<CtvxPolyhedronData> makePolyhedronData(MeshPart const& part)
{
    boost::shared_ptr<CtvxPolyhedronData> data = CtvxPolyhedronData::create();
    unsigned int const nPoints = static_cast<unsigned int>(part.countPoints());
    unsigned int const nTriangles = static_cast<unsigned int>(part.countTriangles());
    data->reserveNPoints(nPoints);
    data->reserveNTriangles(nTriangles);
    unsigned int rank = 0;
    for (unsigned int i = 0; i < nPoints; ++i)
        data->addPoint(part.points[3 * i], part.points[3 * i + 1], part.points[3 * i + 2], rank);
    for (unsigned int i = 0; i < nTriangles; ++i)
        data->addTriangle(part.triangles[3 * i], part.triangles[3 * i + 1], part.triangles[3 * i + 2], rank);
    return data;
}

// A new polyhedron over the part's geometry, unplaced and without a tree.
inline boost::shared_ptr<CtvxPolyhedron> makePolyhedron(MeshPart const& part)
{
    boost::shared_ptr<CtvxPolyhedronData> data = makePolyhedronData(part);
    return CtvxPolyhedron::create(data);
}

} // namespace tvxio
