#include "MeshImport.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <unordered_map>
#include <utility>

namespace tvxio {

std::size_t ImportedMesh::countPoints() const
{
    std::size_t n = 0;
    for (MeshPart const& p : parts)
        n += p.countPoints();
    return n;
}

std::size_t ImportedMesh::countTriangles() const
{
    std::size_t n = 0;
    for (MeshPart const& p : parts)
        n += p.countTriangles();
    return n;
}

namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool endsWith(std::string const& s, std::string const& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The name with a trailing ".gz" removed, which is what tells the format of
// a gzipped file.
std::string withoutGz(std::string const& name)
{
    std::string const l = lower(name);
    if (endsWith(l, ".gz"))
        return name.substr(0, name.size() - 3);
    if (endsWith(l, ".gzip"))
        return name.substr(0, name.size() - 5);
    return name;
}

// Lower-case extension without the dot, empty when there is none.
std::string extensionOf(std::string const& name)
{
    std::string const base = std::filesystem::path(name).filename().string();
    std::size_t const dot = base.rfind('.');
    if (dot == std::string::npos || dot + 1 >= base.size())
        return std::string();
    return lower(base.substr(dot + 1));
}

bool isGzip(unsigned char const* p, std::size_t n)
{
    return n >= 2 && p[0] == 0x1f && p[1] == 0x8b;
}

// The row-major 4x4 placement of a node, widened to double so that nested
// placements compose without a second rounding per level.
struct Placement {
    double m[4][4];

    static Placement identity()
    {
        Placement p{};
        for (int i = 0; i < 4; ++i)
            p.m[i][i] = 1.0;
        return p;
    }

    static Placement of(aiMatrix4x4 const& a)
    {
        Placement p{};
        ai_real const* src = a[0];
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                p.m[r][c] = static_cast<double>(src[r * 4 + c]);
        return p;
    }

    Placement operator*(Placement const& o) const
    {
        Placement p{};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                p.m[r][c] = m[r][0] * o.m[0][c] + m[r][1] * o.m[1][c] + m[r][2] * o.m[2][c] + m[r][3] * o.m[3][c];
        return p;
    }

    bool isIdentity() const
    {
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                if (m[r][c] != (r == c ? 1.0 : 0.0))
                    return false;
        return true;
    }
};

// Joins points by exact position. -0 and +0 are one position; NaN never gets
// here (it is refused before).
class PointJoiner {
public:
    explicit PointJoiner(MeshPart& part) : m_part(part) {}

    // Rank of the point at (x, y, z), adding it when it is new.
    std::uint32_t rankOf(float x, float y, float z)
    {
        Key const k{bits(x), bits(y), bits(z)};
        auto const found = m_ranks.find(k);
        if (found != m_ranks.end())
            return found->second;
        std::uint32_t const rank = static_cast<std::uint32_t>(m_part.countPoints());
        m_part.points.push_back(x);
        m_part.points.push_back(y);
        m_part.points.push_back(z);
        m_ranks.emplace(k, rank);
        return rank;
    }

    void reserve(std::size_t n) { m_ranks.reserve(n); }

private:
    struct Key {
        std::uint32_t x, y, z;
        bool operator==(Key const& o) const { return x == o.x && y == o.y && z == o.z; }
    };
    struct KeyHash {
        std::size_t operator()(Key const& k) const
        {
            std::uint64_t h = k.x * 0x9E3779B97F4A7C15ull;
            h ^= (h >> 29) ^ (k.y * 0xC2B2AE3D27D4EB4Full);
            h ^= (h >> 31) ^ (k.z * 0x165667B19E3779F9ull);
            return static_cast<std::size_t>(h ^ (h >> 32));
        }
    };

    static std::uint32_t bits(float v)
    {
        if (v == 0.0f)
            v = 0.0f; // folds -0 into +0
        std::uint32_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    }

    MeshPart& m_part;
    std::unordered_map<Key, std::uint32_t, KeyHash> m_ranks;
};

std::string meshLabel(aiMesh const* mesh, unsigned int index)
{
    std::string label = "mesh " + std::to_string(index);
    if (mesh->mName.length > 0)
        label += " '" + std::string(mesh->mName.C_Str()) + "'";
    return label;
}

// Index check before anything reads vertices through the faces: a reader that
// passes a bad index on would make the triangulation read out of bounds.
int checkIndices(aiScene const* scene, std::string& reason)
{
    for (unsigned int mi = 0; mi < scene->mNumMeshes; ++mi) {
        aiMesh const* mesh = scene->mMeshes[mi];
        if (mesh == nullptr)
            continue;
        if (mesh->mNumFaces > 0 && (mesh->mFaces == nullptr || (mesh->mNumVertices > 0 && mesh->mVertices == nullptr))) {
            reason = meshLabel(mesh, mi) + " has faces but no point array";
            return -1;
        }
        for (unsigned int fi = 0; fi < mesh->mNumFaces; ++fi) {
            aiFace const& face = mesh->mFaces[fi];
            if (face.mNumIndices > 0 && face.mIndices == nullptr) {
                reason = meshLabel(mesh, mi) + ": face " + std::to_string(fi) + " has no index array";
                return -1;
            }
            for (unsigned int k = 0; k < face.mNumIndices; ++k) {
                if (face.mIndices[k] >= mesh->mNumVertices) {
                    reason = "out-of-range point index " + std::to_string(face.mIndices[k]) + " in face " +
                             std::to_string(fi) + " of " + meshLabel(mesh, mi) + ", which has " +
                             std::to_string(mesh->mNumVertices) + " points";
                    return -1;
                }
            }
        }
    }
    return 0;
}

struct Instance {
    unsigned int mesh;
    Placement placement;
    std::string nodeName;
};

// Every placed mesh of the scene, walking the node tree without recursion so
// that no nesting depth can exhaust the stack. Meshes that no node places are
// taken as they are, as a reader without a node tree would give them.
int collectInstances(aiScene const* scene, std::vector<Instance>& instances, std::string& reason)
{
    std::vector<bool> placed(scene->mNumMeshes, false);
    if (scene->mRootNode != nullptr) {
        std::vector<std::pair<aiNode const*, Placement>> stack;
        stack.emplace_back(scene->mRootNode, Placement::of(scene->mRootNode->mTransformation));
        while (!stack.empty()) {
            auto const [node, placement] = stack.back();
            stack.pop_back();
            for (unsigned int i = 0; i < node->mNumMeshes; ++i) {
                unsigned int const m = node->mMeshes[i];
                if (m >= scene->mNumMeshes) {
                    reason = "node '" + std::string(node->mName.C_Str()) + "' names mesh " + std::to_string(m) +
                             " of " + std::to_string(scene->mNumMeshes);
                    return -1;
                }
                placed[m] = true;
                instances.push_back(Instance{m, placement, node->mName.C_Str()});
            }
            // Children pushed in reverse so that they come out in file order.
            for (unsigned int i = node->mNumChildren; i-- > 0;) {
                aiNode const* child = node->mChildren[i];
                if (child != nullptr)
                    stack.emplace_back(child, placement * Placement::of(child->mTransformation));
            }
        }
    }
    for (unsigned int m = 0; m < scene->mNumMeshes; ++m)
        if (!placed[m])
            instances.push_back(Instance{m, Placement::identity(), std::string()});
    return 0;
}

// Appends the triangles of one placed mesh to part.
int appendInstance(aiScene const* scene, Instance const& inst, MeshPart& part, PointJoiner& joiner,
                   ImportedMesh& out, std::string& reason)
{
    aiMesh const* mesh = scene->mMeshes[inst.mesh];
    if (mesh == nullptr)
        return 0;
    bool const identity = inst.placement.isIdentity();
    double const(&m)[4][4] = inst.placement.m;
    // Joined rank of each vertex of the mesh, filled when a triangle first uses it.
    constexpr std::uint32_t unset = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> rankOfVertex(mesh->mNumVertices, unset);
    joiner.reserve(part.countPoints() + mesh->mNumVertices);

    auto vertexRank = [&](unsigned int v, std::uint32_t& rank) -> int {
        if (rankOfVertex[v] != unset) {
            rank = rankOfVertex[v];
            return 0;
        }
        aiVector3D const& p = mesh->mVertices[v];
        double const x = p.x, y = p.y, z = p.z;
        float fx, fy, fz;
        if (identity) {
            fx = static_cast<float>(x);
            fy = static_cast<float>(y);
            fz = static_cast<float>(z);
        } else {
            fx = static_cast<float>(m[0][0] * x + m[0][1] * y + m[0][2] * z + m[0][3]);
            fy = static_cast<float>(m[1][0] * x + m[1][1] * y + m[1][2] * z + m[1][3]);
            fz = static_cast<float>(m[2][0] * x + m[2][1] * y + m[2][2] * z + m[2][3]);
        }
        if (!std::isfinite(fx) || !std::isfinite(fy) || !std::isfinite(fz)) {
            bool const sourceFinite = std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
            reason = std::string(sourceFinite ? "coordinates beyond single precision" : "non-finite coordinates") +
                     " at point " + std::to_string(v) + " of " + meshLabel(mesh, inst.mesh);
            return -1;
        }
        if (part.countPoints() >= std::numeric_limits<std::uint32_t>::max() - 1) {
            reason = "more points than 32-bit ranks can address";
            return -1;
        }
        rank = joiner.rankOf(fx, fy, fz);
        rankOfVertex[v] = rank;
        return 0;
    };

    out.fileVertices += mesh->mNumVertices;
    for (unsigned int fi = 0; fi < mesh->mNumFaces; ++fi) {
        aiFace const& face = mesh->mFaces[fi];
        if (face.mNumIndices < 3) {
            ++out.droppedPointsAndLines;
            continue;
        }
        // The triangulation leaves no polygon behind; should one get through
        // anyway, it is fanned rather than lost.
        std::uint32_t r0;
        if (vertexRank(face.mIndices[0], r0) != 0)
            return -1;
        for (unsigned int k = 1; k + 1 < face.mNumIndices; ++k) {
            std::uint32_t r1, r2;
            if (vertexRank(face.mIndices[k], r1) != 0 || vertexRank(face.mIndices[k + 1], r2) != 0)
                return -1;
            if (r0 == r1 || r1 == r2 || r0 == r2) {
                ++out.droppedDegenerate;
                continue;
            }
            part.triangles.push_back(r0);
            part.triangles.push_back(r1);
            part.triangles.push_back(r2);
        }
    }
    return 0;
}

int convertScene(aiScene const* scene, ImportOptions const& options, ImportedMesh& out, std::string& reason)
{
    std::vector<Instance> instances;
    if (collectInstances(scene, instances, reason) != 0)
        return -1;
    if (options.keepParts) {
        for (Instance const& inst : instances) {
            MeshPart part;
            aiMesh const* mesh = scene->mMeshes[inst.mesh];
            part.name = (mesh != nullptr && mesh->mName.length > 0) ? std::string(mesh->mName.C_Str()) : inst.nodeName;
            if (part.name.empty())
                part.name = "part" + std::to_string(out.parts.size());
            PointJoiner joiner(part);
            if (appendInstance(scene, inst, part, joiner, out, reason) != 0)
                return -1;
            if (part.countTriangles() > 0)
                out.parts.push_back(std::move(part));
        }
    } else {
        MeshPart part;
        part.name = "mesh";
        PointJoiner joiner(part);
        for (Instance const& inst : instances)
            if (appendInstance(scene, inst, part, joiner, out, reason) != 0)
                return -1;
        if (part.countTriangles() > 0)
            out.parts.push_back(std::move(part));
    }
    if (out.parts.empty()) {
        reason = "no triangles";
        if (out.droppedPointsAndLines > 0 || out.droppedDegenerate > 0)
            reason += " (" + std::to_string(out.droppedPointsAndLines) + " points or lines, " +
                      std::to_string(out.droppedDegenerate) + " degenerate triangles dropped)";
        return -1;
    }
    return 0;
}

std::string readerReason(Assimp::Importer const& importer)
{
    char const* e = importer.GetErrorString();
    std::string r = (e != nullptr && *e != '\0') ? std::string(e) : std::string("the file could not be read");
    // Readers end some messages with a newline; the message is one line.
    for (char& c : r)
        if (c == '\n' || c == '\r')
            c = ' ';
    while (!r.empty() && r.back() == ' ')
        r.pop_back();
    return r;
}

// Runs after a reader produced a scene: index check, triangulation, conversion.
int finishImport(Assimp::Importer& importer, aiScene const* scene, ImportOptions const& options, ImportedMesh& out,
                 std::string& reason)
{
    if (scene == nullptr) {
        reason = readerReason(importer);
        return -1;
    }
    if (checkIndices(scene, reason) != 0)
        return -1;
    scene = importer.ApplyPostProcessing(aiProcess_Triangulate);
    if (scene == nullptr) {
        reason = readerReason(importer);
        return -1;
    }
    return convertScene(scene, options, out, reason);
}

int fail(std::string const& name, std::string const& reason, ImportedMesh& out, std::string& error)
{
    out = ImportedMesh();
    error = name + ": " + reason;
    return -1;
}

std::string formatName(std::string const& name, bool gzipped)
{
    std::string ext = extensionOf(withoutGz(name));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (ext.empty())
        ext = "?";
    return gzipped ? ext + " (gzip)" : ext;
}

} // namespace

int gunzip(void const* data, std::size_t size, std::size_t maxBytes, std::string& out, std::string& reason)
{
    out.clear();
    z_stream zs{};
    // 15 + 32: the largest window, and a gzip or zlib header recognised by itself.
    if (inflateInit2(&zs, 15 + 32) != Z_OK) {
        reason = "the decompressor could not start";
        return -1;
    }
    zs.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    std::size_t remaining = size;
    std::size_t const chunk = std::size_t(1) << 20;
    int rc = Z_OK;
    try {
        for (;;) {
            if (zs.avail_in == 0 && remaining > 0) {
                zs.avail_in = static_cast<uInt>(std::min<std::size_t>(remaining, std::numeric_limits<uInt>::max()));
                remaining -= zs.avail_in;
            }
            if (out.size() > maxBytes) {
                reason = "gzip content larger than " + std::to_string(maxBytes) + " bytes";
                inflateEnd(&zs);
                out.clear();
                return -1;
            }
            std::size_t const before = out.size();
            out.resize(before + chunk);
            zs.next_out = reinterpret_cast<Bytef*>(&out[before]);
            zs.avail_out = static_cast<uInt>(chunk);
            rc = inflate(&zs, Z_NO_FLUSH);
            out.resize(before + (chunk - zs.avail_out));
            if (rc == Z_STREAM_END) {
                // Concatenated members (as "cat a.gz b.gz" makes) are one file.
                if (zs.avail_in == 0 && remaining == 0)
                    break;
                if (inflateReset(&zs) != Z_OK)
                    break;
                continue;
            }
            if (rc == Z_BUF_ERROR && zs.avail_in == 0 && remaining == 0) {
                reason = "gzip data is truncated";
                break;
            }
            if (rc != Z_OK) {
                reason = std::string("corrupt gzip data") + (zs.msg != nullptr ? std::string(" (") + zs.msg + ")" : "");
                break;
            }
        }
    } catch (...) {
        inflateEnd(&zs);
        out.clear();
        throw;
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END) {
        out.clear();
        return -1;
    }
    if (out.size() > maxBytes) {
        reason = "gzip content larger than " + std::to_string(maxBytes) + " bytes";
        out.clear();
        return -1;
    }
    return 0;
}

int importMeshFromMemory(void const* data, std::size_t size, std::string const& name, ImportOptions const& options,
                         ImportedMesh& out, std::string& error)
{
    out = ImportedMesh();
    try {
        if (data == nullptr || size == 0)
            return fail(name, "empty file", out, error);
        std::string inflated;
        bool const gzipped = isGzip(static_cast<unsigned char const*>(data), size);
        if (gzipped) {
            std::string reason;
            if (gunzip(data, size, options.maxInflatedBytes, inflated, reason) != 0)
                return fail(name, reason, out, error);
            if (inflated.empty())
                return fail(name, "empty file inside the gzip data", out, error);
            data = inflated.data();
            size = inflated.size();
        }
        std::string hint = extensionOf(withoutGz(name));
        if (hint.size() > 16)
            hint.clear();
        Assimp::Importer importer;
        aiScene const* scene = importer.ReadFileFromMemory(data, size, 0, hint.c_str());
        std::string reason;
        ImportedMesh result;
        if (finishImport(importer, scene, options, result, reason) != 0)
            return fail(name, reason, out, error);
        result.format = formatName(name, gzipped);
        out = std::move(result);
        return 0;
    } catch (std::bad_alloc const&) {
        return fail(name, "out of memory", out, error);
    } catch (std::exception const& e) {
        return fail(name, e.what(), out, error);
    } catch (...) {
        return fail(name, "the reader failed", out, error);
    }
}

int importMesh(std::string const& path, ImportOptions const& options, ImportedMesh& out, std::string& error)
{
    out = ImportedMesh();
    try {
        std::error_code ec;
        std::filesystem::file_status const st = std::filesystem::status(path, ec);
        if (ec || !std::filesystem::exists(st))
            return fail(path, "no such file", out, error);
        if (std::filesystem::is_directory(st))
            return fail(path, "is a directory, not a mesh file", out, error);
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return fail(path, std::string("cannot be opened (") + std::strerror(errno) + ")", out, error);
        unsigned char magic[2] = {0, 0};
        in.read(reinterpret_cast<char*>(magic), 2);
        std::streamsize const got = in.gcount();
        if (got == 0)
            return fail(path, "empty file", out, error);
        if (isGzip(magic, static_cast<std::size_t>(got))) {
            in.clear();
            in.seekg(0, std::ios::end);
            std::streamoff const size = in.tellg();
            in.seekg(0, std::ios::beg);
            if (size <= 0)
                return fail(path, "cannot be read", out, error);
            std::string bytes(static_cast<std::size_t>(size), '\0');
            if (!in.read(&bytes[0], size))
                return fail(path, "cannot be read", out, error);
            return importMeshFromMemory(bytes.data(), bytes.size(), path, options, out, error);
        }
        in.close();
        // Files that are not compressed are read by path, so that a reader can
        // reach the files beside them (an OBJ's material library).
        Assimp::Importer importer;
        aiScene const* scene = importer.ReadFile(path, 0);
        std::string reason;
        ImportedMesh result;
        if (finishImport(importer, scene, options, result, reason) != 0)
            return fail(path, reason, out, error);
        result.format = formatName(path, false);
        out = std::move(result);
        return 0;
    } catch (std::bad_alloc const&) {
        return fail(path, "out of memory", out, error);
    } catch (std::exception const& e) {
        return fail(path, e.what(), out, error);
    } catch (...) {
        return fail(path, "the reader failed", out, error);
    }
}

} // namespace tvxio
