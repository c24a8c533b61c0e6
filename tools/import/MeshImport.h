#pragma once

// Reading triangle meshes from files, for the command-line tool and the
// benchmarks that compare against peer libraries.
//
// The importer knows nothing of the library's classes: it hands back plain
// arrays (three floats a point, three point ranks a triangle), so that any
// consumer can fill its own structures from them. PolyhedronFromMesh.h fills
// a library polyhedron.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvxio {

// One triangle mesh in plain arrays. Points are x, y, z triples; triangles are
// triples of 0-based point ranks, every one of them below countPoints().
struct MeshPart {
    std::string name;
    std::vector<float> points;
    std::vector<std::uint32_t> triangles;

    std::size_t countPoints() const { return points.size() / 3; }
    std::size_t countTriangles() const { return triangles.size() / 3; }
};

// What a file held, and what was left out of it on the way.
struct ImportedMesh {
    // One part when the meshes of the file are merged, otherwise one part per
    // placed mesh of the file, in the file's order.
    std::vector<MeshPart> parts;
    // Faces with fewer than three corners (points and lines of the file, and
    // the empty faces a damaged file can leave).
    std::size_t droppedPointsAndLines = 0;
    // Triangles that name one point twice once equal positions are joined:
    // they have no area, and their edges belong to their neighbours anyway.
    std::size_t droppedDegenerate = 0;
    // Vertices of the file before equal positions were joined.
    std::size_t fileVertices = 0;
    // The format's reader, as the file's extension or content named it.
    std::string format;

    std::size_t countPoints() const;
    std::size_t countTriangles() const;
};

struct ImportOptions {
    // Keep every mesh of the file as its own part instead of merging them.
    bool keepParts = false;
    // Gunzipped data larger than this is refused rather than exhausting memory.
    std::size_t maxInflatedBytes = std::size_t(4) << 30;
    // Read in a child process, so that a reader that aborts, loops or
    // swallows memory on a damaged file costs an error message, not the
    // caller's process. The child dies with its parent.
    bool isolate = true;
    // Processor time allowed to the reader in the child, in seconds; 0
    // scales with the file's size: kBaseReaderSeconds and one more a
    // megabyte (eight a megabyte of gzipped data).
    double readerSeconds = 0.0;
    // Address space allowed to the reader in the child on top of what the
    // process already maps, in bytes; 0 is defaultReaderMemory(). A reader
    // that needs more fails with an "out of memory" message. Not enforced
    // under AddressSanitizer, whose shadow memory needs terabytes of
    // address space.
    std::size_t readerMemoryBytes = 0;
};

// Processor seconds a reading child gets for any file, before its size adds.
constexpr double kBaseReaderSeconds = 2.0;

// A quarter of the machine's physical memory.
std::size_t defaultReaderMemory();

// Reads a mesh file: anything the underlying reader understands (OBJ, STL in
// ASCII and binary, PLY, OFF, ...), also gzipped (the content is recognised by
// its magic bytes, the format by the name without ".gz"). Polygons are
// triangulated, node placements of the file applied, equal positions joined
// into one point (within each part), and points and lines dropped.
//
// Returns 0 on success. On failure returns -1, leaves out empty and sets
// error to one line "<path>: <reason>", the reason in the reader's own words
// when the reader refused the file. Nothing the file holds may crash, hang or
// exhaust the caller: the reading runs in a child process (see isolate).
[[nodiscard]] int importMesh(std::string const& path, ImportOptions const& options, ImportedMesh& out,
                             std::string& error);

// The same on a file already in memory; name is used for the format (by its
// extension, after dropping ".gz") and in messages.
[[nodiscard]] int importMeshFromMemory(void const* data, std::size_t size, std::string const& name,
                                       ImportOptions const& options, ImportedMesh& out, std::string& error);

// Inflates gzip (or zlib) data. Returns 0, or -1 with a reason.
[[nodiscard]] int gunzip(void const* data, std::size_t size, std::size_t maxBytes, std::string& out,
                         std::string& reason);

} // namespace tvxio
