// Writes the seed inputs of the two fuzz targets:
//
//   tvx_fuzz_seeds IMPORT_DIR SCENE_DIR [MODELS_DIR...]
//
// Import seeds are the test suite's own meshes written by the tool tests'
// file writers in every format they know, plain and gzipped, and a few
// damaged copies; files found under each MODELS_DIR (OBJ, STL, PLY and OFF
// sample files, say) are added with the selector byte their extension
// calls for. Scene seeds are small programs in the scene target's
// vocabulary: boxes apart and overlapping, an assembly regrouped and
// unlocked, shared and grown mesh data, each ending in a cross-check.

#include <tests/fuzz/FuzzInput.h>
#include <tests/support/Meshes.h>
#include <tests/tools/MeshFiles.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tvxtest::Mesh;

// Files larger than this slow every run down more than they teach it.
constexpr std::uintmax_t kMaxModelBytes = 256 * 1024;

int written = 0;

void put(fs::path const& dir, std::string const& name, std::string const& bytes)
{
    tvxtest::writeText((dir / name).string(), bytes);
    ++written;
}

std::string withSelector(std::uint8_t selector, std::string const& file)
{
    return std::string(1, static_cast<char>(selector)) + file;
}

void importSeeds(fs::path const& dir)
{
    struct Writer {
        char const* name;
        char const* extension;
        std::function<std::string(Mesh const&)> write;
    };
    std::vector<Writer> const writers = {
        {"obj", "obj", tvxtest::objText},           {"stl-ascii", "stl", tvxtest::stlAsciiText},
        {"stl-binary", "stl", tvxtest::stlBinaryBytes}, {"ply-ascii", "ply", tvxtest::plyAsciiText},
        {"ply-binary", "ply", tvxtest::plyBinaryBytes}, {"off", "off", tvxtest::offText}};
    std::vector<std::pair<char const*, Mesh>> const meshes = {{"box", tvxtest::makeBox(0.5, 1.0, 2.0)},
                                                              {"icosphere", tvxtest::makeIcosphere(1, 1.0)},
                                                              {"torus", tvxtest::makeTorus(6, 4, 2.0, 0.5)}};
    for (auto const& [meshName, mesh] : meshes)
        for (Writer const& w : writers) {
            std::string const file = w.write(mesh);
            std::string const base = std::string(meshName) + "-" + w.name;
            bool const parts = file.size() % 2 == 1;
            put(dir, base, withSelector(tvxfuzz::importSelector(w.extension, parts), file));
            put(dir, base + "-gz", withSelector(tvxfuzz::importSelector(w.extension, !parts), tvxtest::gzipBytes(file)));
            put(dir, base + "-content", withSelector(tvxfuzz::importSelector("", parts), file));
            put(dir, base + "-truncated", withSelector(tvxfuzz::importSelector(w.extension, parts),
                                                       file.substr(0, file.size() / 2)));
        }
    // A point index past the end, and a polygon that needs triangulating.
    put(dir, "obj-bad-index", withSelector(tvxfuzz::importSelector("obj", false), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n"));
    put(dir, "obj-quad", withSelector(tvxfuzz::importSelector("obj", true),
                                      "o a\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\no b\nv 0 0 1\nv 1 0 1\n"
                                      "v 0 1 1\nf 5 6 7\nl 1 5\n"));
}

void modelSeeds(fs::path const& dir, fs::path const& models)
{
    std::error_code ec;
    int n = 0;
    for (fs::recursive_directory_iterator it(models, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->file_size(ec) > kMaxModelBytes)
            continue;
        std::string extension = it->path().extension().string();
        if (!extension.empty())
            extension.erase(0, 1);
        std::string const file = tvxtest::readText(it->path().string());
        put(dir, "model-" + std::to_string(n++), withSelector(tvxfuzz::importSelector(extension, false), file));
    }
}

// Encodes scene programs byte for byte as tests/fuzz/SceneFuzz.cpp reads them.
class Program {
public:
    Program& op(tvxfuzz::SceneOp o) { return byte(o); }
    Program& byte(unsigned b)
    {
        m_bytes += static_cast<char>(b & 0xffu);
        return *this;
    }
    // An ordinary coordinate: a multiple of 1/16 in [-8, 8).
    Program& coordinate(double v) { return byte(0).byte(static_cast<std::uint8_t>(static_cast<std::int8_t>(std::lround(v * 16)))); }
    // An ordinary amount: a multiple of 1/32 in [0, 8).
    Program& amount(double v) { return byte(0).byte(static_cast<unsigned>(std::lround(v * 32))); }
    // A rigid placement: quaternion (w, x, y, z) of small integers, translation.
    Program& placement(int w, int x, int y, int z, double tx, double ty, double tz)
    {
        byte(0).byte(static_cast<std::uint8_t>(w)).byte(static_cast<std::uint8_t>(x));
        byte(static_cast<std::uint8_t>(y)).byte(static_cast<std::uint8_t>(z));
        return coordinate(tx).coordinate(ty).coordinate(tz);
    }
    Program& polyhedron(Mesh const& m)
    {
        op(tvxfuzz::OpPolyhedron).byte(static_cast<unsigned>(m.points.size()));
        byte(static_cast<unsigned>(m.triangles.size()));
        for (auto const& p : m.points)
            coordinate(p[0]).coordinate(p[1]).coordinate(p[2]);
        for (auto const& t : m.triangles)
            byte(t[0]).byte(t[1]).byte(t[2]);
        return *this;
    }
    // Object picks are ranks among the program's objects (or among those of
    // one kind), in the order they were made.
    Program& entity(unsigned object) { return op(tvxfuzz::OpEntity).byte(object).byte(1); }
    Program& list(unsigned which, unsigned object) { return op(tvxfuzz::OpList).byte(which).byte(object); }
    Program& place(unsigned object, bool relative, int w, int x, int y, int z, double tx, double ty, double tz)
    {
        return op(tvxfuzz::OpPlace).byte(object).byte(relative ? 0 : 1).placement(w, x, y, z, tx, ty, tz);
    }
    Program& crossCheck() { return op(tvxfuzz::OpCrossCheck); }
    std::string const& bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

void sceneSeeds(fs::path const& dir)
{
    Mesh const box = tvxtest::makeBox(0.5, 0.5, 0.5);
    Mesh const ball = tvxtest::makeIcosphere(0, 0.75);
    // Two boxes apart, then overlapping, then touching face to face.
    Program apart;
    apart.polyhedron(box).polyhedron(box).entity(0).entity(1).list(0, 0).list(1, 1);
    apart.place(1, false, 1, 0, 0, 0, 3, 0, 0).crossCheck();
    apart.place(1, false, 7, 1, 2, 3, 0.5, 0.25, 0).crossCheck();
    apart.place(1, false, 1, 0, 0, 0, 1, 0, 0).crossCheck();
    put(dir, "boxes", apart.bytes());
    // An assembly of a box and a ball against a box, regrouped, moved,
    // toleranced, unlocked.
    Program assembly;
    assembly.polyhedron(box).polyhedron(ball).op(tvxfuzz::OpAssembly).polyhedron(box);
    assembly.op(tvxfuzz::OpAttach).byte(0).byte(0).byte(0xff); // box into the assembly
    assembly.op(tvxfuzz::OpAttach).byte(0).byte(1).byte(0xff); // ball too
    assembly.place(1, true, 1, 0, 0, 0, 1.5, 0, 0);
    assembly.entity(2).entity(3).list(0, 2).list(1, 3);
    assembly.place(3, false, 3, 0, 1, 0, 4, 1, 0).crossCheck();
    assembly.op(tvxfuzz::OpTolerance).byte(3).amount(1.25).crossCheck();
    assembly.op(tvxfuzz::OpUnlock).byte(1).byte(1).byte(1).crossCheck();
    put(dir, "assembly", assembly.bytes());
    // Mesh data shared by two polyhedra, one scaled, one grown after its
    // tree was built, and a complement list.
    Program shared;
    shared.polyhedron(ball).op(tvxfuzz::OpSharedPolyhedron).byte(0).entity(0).entity(1);
    shared.op(tvxfuzz::OpScale).byte(1).coordinate(0).coordinate(0).coordinate(0).amount(0.5);
    shared.list(0, 0).list(1, 1).place(1, false, 1, 0, 0, 0, 2, 0, 0).crossCheck();
    shared.op(tvxfuzz::OpGrow).byte(0).byte(3).byte(1).coordinate(1).coordinate(0).coordinate(0);
    shared.coordinate(1).coordinate(1).coordinate(0).coordinate(1).coordinate(0).coordinate(1).byte(12).byte(13).byte(14);
    shared.crossCheck().op(tvxfuzz::OpComplement).byte(0).byte(0).byte(0).crossCheck();
    put(dir, "shared", shared.bytes());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tvx_fuzz_seeds IMPORT_DIR SCENE_DIR [MODELS_DIR...]\n");
        return 2;
    }
    try {
        fs::path const importDir = argv[1], sceneDir = argv[2];
        fs::create_directories(importDir);
        fs::create_directories(sceneDir);
        importSeeds(importDir);
        for (int i = 3; i < argc; ++i)
            modelSeeds(importDir, argv[i]);
        sceneSeeds(sceneDir);
    } catch (std::exception const& e) {
        std::fprintf(stderr, "tvx_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    std::printf("tvx_fuzz_seeds: %d seeds written\n", written);
    return 0;
}
