// Fuzz target: the mesh importer on a file held in memory, read in this
// process rather than a child, so that the sanitizers watch our own code
// (the gzip layer, the index checks, the triangulation's preparation, the
// joining of points) on whatever the reader hands back.
//
// Input: one selector byte (tests/fuzz/FuzzInput.h: the name, hence the
// reader, and whether parts are kept), then the file's bytes. Besides
// crashes, what MeshImport.h promises of an answer is checked: every point
// finite, every triangle three distinct ranks below its part's point count,
// some triangle in all, and on failure one line naming the file and no parts.

#include <tests/fuzz/FuzzInput.h>

#include <tools/import/MeshImport.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void broken(char const* what, std::string const& detail)
{
    std::fprintf(stderr, "import fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

void checkAnswer(int rc, std::string const& name, tvxio::ImportedMesh const& mesh, std::string const& error)
{
    if (rc != 0) {
        if (rc != -1)
            broken("status neither 0 nor -1", std::to_string(rc));
        if (!mesh.parts.empty())
            broken("a failure left parts behind", error);
        if (error.compare(0, name.size() + 2, name + ": ") != 0 || error.size() == name.size() + 2)
            broken("a failure not named '<file>: <reason>'", error);
        if (error.find('\n') != std::string::npos)
            broken("a failure on more than one line", error);
        return;
    }
    if (mesh.parts.empty() || mesh.countTriangles() == 0)
        broken("success without triangles", name);
    for (tvxio::MeshPart const& part : mesh.parts) {
        if (part.points.size() % 3 != 0 || part.triangles.size() % 3 != 0)
            broken("arrays not in triples", part.name);
        for (float v : part.points)
            if (!std::isfinite(v))
                broken("a coordinate not finite", part.name);
        std::size_t const n = part.countPoints();
        for (std::size_t t = 0; t < part.triangles.size(); t += 3) {
            std::uint32_t const a = part.triangles[t], b = part.triangles[t + 1], c = part.triangles[t + 2];
            if (a >= n || b >= n || c >= n)
                broken("a point rank past the part's points", part.name);
            if (a == b || b == c || a == c)
                broken("a triangle naming one point twice", part.name);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size < 1)
        return 0;
    tvxio::ImportOptions options;
    options.isolate = false;
    options.keepParts = (data[0] & 0x80u) != 0;
    // Well inside the fuzzer's memory limit, so that a small gzip bomb is a
    // refusal rather than an out-of-memory stop.
    options.maxInflatedBytes = std::size_t(64) << 20;
    std::string const name = tvxfuzz::importName(data[0]);
    tvxio::ImportedMesh mesh;
    std::string error;
    int const rc = tvxio::importMeshFromMemory(data + 1, size - 1, name, options, mesh, error);
    checkAnswer(rc, name, mesh, error);
    return 0;
}
