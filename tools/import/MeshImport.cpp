#include "MeshImport.h"

#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/LogStream.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <zlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
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
            reason += " (" + std::to_string(out.droppedPointsAndLines) + " points, lines or empty faces, " +
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

// Some readers mend a bad index on their own (clamping it to the last point)
// and only log it; such a file is refused all the same, with the reader's
// own logged words, so the reader's error log is listened to while it reads.
class ReaderErrorLog {
public:
    ReaderErrorLog()
    {
        Assimp::DefaultLogger::create(nullptr, Assimp::Logger::NORMAL, 0);
        Assimp::DefaultLogger::get()->attachStream(new Stream(m_messages), Assimp::Logger::Err);
    }
    ~ReaderErrorLog() { Assimp::DefaultLogger::kill(); }
    ReaderErrorLog(ReaderErrorLog const&) = delete;
    ReaderErrorLog& operator=(ReaderErrorLog const&) = delete;

    // The first logged error that reports something out of range, without
    // the logger's "Error, T0: " prefix, or "".
    std::string rangeError() const
    {
        for (std::string const& m : m_messages)
            if (lower(m).find("out of range") != std::string::npos) {
                std::size_t const colon = m.find(": ");
                return colon == std::string::npos ? m : m.substr(colon + 2);
            }
        return std::string();
    }

private:
    class Stream : public Assimp::LogStream {
    public:
        explicit Stream(std::vector<std::string>& sink) : m_sink(sink) {}
        void write(char const* message) override
        {
            std::string m = message != nullptr ? message : "";
            while (!m.empty() && (m.back() == '\n' || m.back() == '\r'))
                m.pop_back();
            m_sink.push_back(m);
        }

    private:
        std::vector<std::string>& m_sink;
    };

    std::vector<std::string> m_messages;
};

// Runs after a reader produced a scene: index check, triangulation, conversion.
int finishImport(Assimp::Importer& importer, aiScene const* scene, ReaderErrorLog const& log,
                 ImportOptions const& options, ImportedMesh& out, std::string& reason)
{
    // A reader's refusal is reported in its own words: only the index check
    // below speaks of point indices in this importer's words.
    if (scene == nullptr) {
        reason = readerReason(importer);
        return -1;
    }
    reason = log.rangeError();
    if (!reason.empty())
        return -1;
    if (checkIndices(scene, reason) != 0)
        return -1;
    // The triangulation trusts each mesh's summary of its face sizes and
    // stops the process (a failed assertion in the reader library) when the
    // faces do not match it, as they do not when a damaged file leaves faces
    // without corners. So faces with fewer than three corners are counted
    // and taken out here, and the summary is rebuilt from what is left.
    for (unsigned int mi = 0; mi < scene->mNumMeshes; ++mi) {
        aiMesh* mesh = scene->mMeshes[mi];
        if (mesh == nullptr)
            continue;
        unsigned int kept = 0;
        unsigned int types = 0;
        for (unsigned int fi = 0; fi < mesh->mNumFaces; ++fi) {
            unsigned int const n = mesh->mFaces[fi].mNumIndices;
            if (n < 3) {
                ++out.droppedPointsAndLines;
                continue;
            }
            types |= n == 3 ? static_cast<unsigned int>(aiPrimitiveType_TRIANGLE)
                            : static_cast<unsigned int>(aiPrimitiveType_POLYGON);
            if (kept != fi)
                std::swap(mesh->mFaces[kept], mesh->mFaces[fi]);
            ++kept;
        }
        // The array keeps its length for its deletion; the faces past kept
        // are the dropped ones, still owned by it.
        mesh->mNumFaces = kept;
        mesh->mPrimitiveTypes = types;
    }
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

namespace {

int readFromMemory(void const* data, std::size_t size, std::string const& name, ImportOptions const& options,
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
        ReaderErrorLog const log;
        Assimp::Importer importer;
        aiScene const* scene = importer.ReadFileFromMemory(data, size, 0, hint.c_str());
        std::string reason;
        ImportedMesh result;
        if (finishImport(importer, scene, log, options, result, reason) != 0)
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

int readFromPath(std::string const& path, ImportOptions const& options, ImportedMesh& out, std::string& error)
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
            return readFromMemory(bytes.data(), bytes.size(), path, options, out, error);
        }
        in.close();
        // Files that are not compressed are read by path, so that a reader can
        // reach the files beside them (an OBJ's material library).
        ReaderErrorLog const log;
        Assimp::Importer importer;
        aiScene const* scene = importer.ReadFile(path, 0);
        std::string reason;
        ImportedMesh result;
        if (finishImport(importer, scene, log, options, result, reason) != 0)
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


// The reader library ends the process on some damaged files (failed
// assertions) and never returns on others (endless loops). So the reading
// runs in a child process, which sends the arrays back through a pipe, and
// the parent turns a child that died or ran out of time into an error.

template <typename T>
void putValue(std::string& buf, T const& v)
{
    buf.append(reinterpret_cast<char const*>(&v), sizeof v);
}

void putString(std::string& buf, std::string const& s)
{
    putValue(buf, static_cast<std::uint64_t>(s.size()));
    buf += s;
}

template <typename T>
void putArray(std::string& buf, std::vector<T> const& v)
{
    putValue(buf, static_cast<std::uint64_t>(v.size()));
    if (!v.empty())
        buf.append(reinterpret_cast<char const*>(v.data()), v.size() * sizeof(T));
}

class Reader {
public:
    explicit Reader(std::string const& buf) : m_buf(buf) {}

    template <typename T>
    bool value(T& v)
    {
        if (m_buf.size() - m_at < sizeof v)
            return false;
        std::memcpy(&v, m_buf.data() + m_at, sizeof v);
        m_at += sizeof v;
        return true;
    }

    bool string(std::string& s)
    {
        std::uint64_t n = 0;
        if (!value(n) || m_buf.size() - m_at < n)
            return false;
        s.assign(m_buf, m_at, static_cast<std::size_t>(n));
        m_at += static_cast<std::size_t>(n);
        return true;
    }

    template <typename T>
    bool array(std::vector<T>& v)
    {
        std::uint64_t n = 0;
        if (!value(n) || n > (m_buf.size() - m_at) / sizeof(T))
            return false;
        v.resize(static_cast<std::size_t>(n));
        if (n > 0)
            std::memcpy(v.data(), m_buf.data() + m_at, static_cast<std::size_t>(n) * sizeof(T));
        m_at += static_cast<std::size_t>(n) * sizeof(T);
        return true;
    }

    bool atEnd() const { return m_at == m_buf.size(); }

private:
    std::string const& m_buf;
    std::size_t m_at = 0;
};

std::string serialise(int rc, std::string const& error, ImportedMesh const& m)
{
    std::string buf;
    putValue(buf, static_cast<std::int32_t>(rc));
    putString(buf, error);
    putString(buf, m.format);
    putValue(buf, static_cast<std::uint64_t>(m.droppedPointsAndLines));
    putValue(buf, static_cast<std::uint64_t>(m.droppedDegenerate));
    putValue(buf, static_cast<std::uint64_t>(m.fileVertices));
    putValue(buf, static_cast<std::uint64_t>(m.parts.size()));
    for (MeshPart const& p : m.parts) {
        putString(buf, p.name);
        putArray(buf, p.points);
        putArray(buf, p.triangles);
    }
    return buf;
}

bool deserialise(std::string const& buf, int& rc, std::string& error, ImportedMesh& m)
{
    Reader r(buf);
    std::int32_t code = 0;
    std::uint64_t a = 0, b = 0, c = 0, n = 0;
    if (!r.value(code) || !r.string(error) || !r.string(m.format) || !r.value(a) || !r.value(b) || !r.value(c) ||
        !r.value(n))
        return false;
    rc = code;
    m.droppedPointsAndLines = static_cast<std::size_t>(a);
    m.droppedDegenerate = static_cast<std::size_t>(b);
    m.fileVertices = static_cast<std::size_t>(c);
    for (std::uint64_t i = 0; i < n; ++i) {
        MeshPart p;
        if (!r.string(p.name) || !r.array(p.points) || !r.array(p.triangles))
            return false;
        m.parts.push_back(std::move(p));
    }
    return r.atEnd();
}

void writeAll(int fd, std::string const& buf)
{
    std::size_t done = 0;
    while (done < buf.size()) {
        ssize_t const w = ::write(fd, buf.data() + done, buf.size() - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return;
        done += static_cast<std::size_t>(w);
    }
}

// What the reading child may use. The limits are set in the child itself, so
// that they hold whatever becomes of the parent.
struct ReaderLimits {
    // Processor seconds; the parent also gives up on a child that has not
    // answered after kWallFactor times as long in real time plus the slack
    // (a reader blocked on something other than the processor).
    double seconds = 0.0;
    // Address space on top of what the process maps when it forks; 0 sets
    // no limit.
    std::size_t memoryBytes = 0;
};

// Real time a child gets per second of processor time before the parent
// kills it: the machine may be shared, and a loaded machine gives the child
// a fraction of a processor.
constexpr double kWallFactor = 4.0;
constexpr double kWallSlackSeconds = 10.0;
// A child still gaining processor time at the deadline is starved, not
// stuck: it gets the slack again, this many times at most (its processor
// limit ends it in any case). 10 ms is more than a blocked child's waking
// costs, less than a share of 1 % of a processor over the slack.
constexpr int kWallExtensions = 4;
constexpr double kProgressSeconds = 0.01;

// Processor time the child has used so far, or a negative value where the
// system does not tell it (no /proc).
double childProcessorSeconds(pid_t pid)
{
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line))
        return -1.0;
    // The command name may hold spaces and parentheses: fields are counted
    // from its closing one, after which comes field 3 (the state); user and
    // system times are fields 14 and 15, in clock ticks.
    std::size_t const close = line.rfind(')');
    if (close == std::string::npos)
        return -1.0;
    std::istringstream fields(line.substr(close + 1));
    std::string skipped;
    for (int field = 3; field < 14; ++field)
        fields >> skipped;
    unsigned long long user = 0, system = 0;
    if (!(fields >> user >> system))
        return -1.0;
    long const ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? static_cast<double>(user + system) / static_cast<double>(ticks) : -1.0;
}

std::string byteText(std::size_t bytes)
{
    char text[32];
    double const mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    if (mib >= 1024.0)
        std::snprintf(text, sizeof text, "%.3g GiB", mib / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.3g MiB", mib);
    return text;
}

std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", seconds);
    return text;
}

// Address space the process maps now (the first field of /proc/self/statm,
// in pages), or 0 when it cannot be read.
std::size_t mappedBytes()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr)
        return 0;
    unsigned long pages = 0;
    int const got = std::fscanf(f, "%lu", &pages);
    std::fclose(f);
    long const pageSize = ::sysconf(_SC_PAGESIZE);
    return got == 1 && pageSize > 0 ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize) : 0;
}

// AddressSanitizer reserves terabytes of address space for its shadow
// memory: no address-space limit can be set under it. GCC says so by a
// macro, clang by a feature.
#if defined(__SANITIZE_ADDRESS__)
#define TVX_IMPORT_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TVX_IMPORT_UNDER_ASAN 1
#endif
#endif
#ifdef TVX_IMPORT_UNDER_ASAN
constexpr bool kCanLimitAddressSpace = false;
#else
constexpr bool kCanLimitAddressSpace = true;
#endif

// In the child, before it reads: die with the parent, and stay within the
// limits. Returns false when the parent is already gone.
bool enterChild(pid_t parent, ReaderLimits const& limits)
{
    // A parent killed while the reader loops would otherwise leave it
    // spinning for good. The signal is armed only now, so a parent that
    // died before this line is caught by the check after it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        return false;
    rlimit cpu{};
    cpu.rlim_cur = static_cast<rlim_t>(std::ceil(limits.seconds));
    // SIGXCPU at the soft limit ends the child; the hard limit's SIGKILL
    // one second later ends a child that survived it.
    cpu.rlim_max = cpu.rlim_cur + 1;
    ::setrlimit(RLIMIT_CPU, &cpu);
    if (kCanLimitAddressSpace && limits.memoryBytes > 0) {
        rlimit as{};
        as.rlim_cur = as.rlim_max = static_cast<rlim_t>(mappedBytes() + limits.memoryBytes);
        ::setrlimit(RLIMIT_AS, &as);
    }
    return true;
}

// A refusal of the reader for want of memory, told as the limit it met.
void explainMemoryFailure(std::string const& name, ReaderLimits const& limits, std::string& error)
{
    if (!kCanLimitAddressSpace || limits.memoryBytes == 0)
        return;
    std::string const prefix = name + ": ";
    std::string const reason = error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : error;
    if (reason.find("bad_alloc") == std::string::npos && reason != "out of memory")
        return;
    error = prefix + "out of memory: the reader needed more than the " + byteText(limits.memoryBytes) +
            " allowed to it";
    if (reason != "out of memory")
        error += " (" + reason + ")";
}

template <typename Job>
int runIsolated(Job const& job, std::string const& name, ReaderLimits const& limits, ImportedMesh& out,
                std::string& error)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return job(out, error); // no pipe, no isolation: read in-process
    std::fflush(nullptr);
    pid_t const parent = ::getpid();
    pid_t const pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return job(out, error);
    }
    if (pid == 0) {
        ::close(fds[0]);
        if (!enterChild(parent, limits))
            ::_exit(1);
        ImportedMesh mesh;
        std::string err;
        int const rc = job(mesh, err);
        if (rc != 0)
            explainMemoryFailure(name, limits, err);
        writeAll(fds[1], serialise(rc, err, mesh));
        ::close(fds[1]);
        // Straight out: no destructors or exit handlers of the parent's state.
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string buf;
    bool timedOut = false;
    double wallSeconds = kWallFactor * limits.seconds + kWallSlackSeconds;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(wallSeconds);
    int extensions = 0;
    double usedAtDeadline = 0.0;
    char chunk[1 << 16];
    for (;;) {
        double const left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0.0) {
            double const used = childProcessorSeconds(pid);
            if (extensions < kWallExtensions && used >= usedAtDeadline + kProgressSeconds) {
                usedAtDeadline = used;
                ++extensions;
                wallSeconds += kWallSlackSeconds;
                deadline += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(kWallSlackSeconds));
                continue;
            }
            timedOut = true;
            break;
        }
        pollfd pfd{fds[0], POLLIN, 0};
        int const pr = ::poll(&pfd, 1, static_cast<int>(std::min(left * 1000.0 + 1.0, 60000.0)));
        if (pr < 0 && errno == EINTR)
            continue;
        if (pr == 0)
            continue;
        ssize_t const r = ::read(fds[0], chunk, sizeof chunk);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        buf.append(chunk, static_cast<std::size_t>(r));
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    out = ImportedMesh();
    double const cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                              1.0e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    // SIGXCPU is the soft processor limit; SIGKILL past the limit its hard
    // one (a SIGKILL before it is someone else's, reported as a crash).
    bool const overTime =
        WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU ||
                                (WTERMSIG(status) == SIGKILL && cpuSeconds >= std::ceil(limits.seconds)));
    if (overTime)
        return fail(name, "the reader did not finish within " + secondsText(limits.seconds) + " of processor time",
                    out, error);
    if (timedOut)
        return fail(name, "the reader did not answer within " + secondsText(wallSeconds), out, error);
    if (WIFSIGNALED(status))
        return fail(name, std::string("the reader crashed on this file (") + strsignal(WTERMSIG(status)) + ")", out,
                    error);
    int rc = -1;
    ImportedMesh mesh;
    std::string err;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !deserialise(buf, rc, err, mesh))
        return fail(name, "the reader stopped without an answer", out, error);
    if (rc != 0) {
        error = err;
        return -1;
    }
    out = std::move(mesh);
    return 0;
}

ReaderLimits limitsFor(ImportOptions const& options, std::size_t bytes, bool gzipped)
{
    ReaderLimits limits;
    if (options.readerSeconds > 0.0) {
        limits.seconds = options.readerSeconds;
    } else {
        // The slowest format at hand (OBJ text) reads at about 30 MB a second
        // on one core; a second per megabyte leaves a factor 30 for slower
        // readers and machines. Gzipped meshes inflate about fourfold: their
        // bytes count eight times.
        double const megabytes = static_cast<double>(bytes) / 1.0e6 * (gzipped ? 8.0 : 1.0);
        limits.seconds = kBaseReaderSeconds + megabytes;
    }
    limits.memoryBytes = options.readerMemoryBytes > 0 ? options.readerMemoryBytes : defaultReaderMemory();
    return limits;
}

bool fileLooksGzipped(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char magic[2] = {0, 0};
    in.read(reinterpret_cast<char*>(magic), 2);
    return isGzip(magic, static_cast<std::size_t>(in.gcount()));
}

} // namespace

int importMeshFromMemory(void const* data, std::size_t size, std::string const& name, ImportOptions const& options,
                         ImportedMesh& out, std::string& error)
{
    auto const job = [&](ImportedMesh& m, std::string& e) { return readFromMemory(data, size, name, options, m, e); };
    if (!options.isolate || data == nullptr || size == 0)
        return job(out, error);
    return runIsolated(job, name, limitsFor(options, size, isGzip(static_cast<unsigned char const*>(data), size)), out,
                       error);
}

int importMesh(std::string const& path, ImportOptions const& options, ImportedMesh& out, std::string& error)
{
    auto const job = [&](ImportedMesh& m, std::string& e) { return readFromPath(path, options, m, e); };
    if (!options.isolate)
        return job(out, error);
    std::error_code ec;
    std::uintmax_t const size = std::filesystem::file_size(path, ec);
    return runIsolated(job, path, limitsFor(options, ec ? 0 : static_cast<std::size_t>(size), fileLooksGzipped(path)),
                       out, error);
}

std::size_t defaultReaderMemory()
{
    long const pages = ::sysconf(_SC_PHYS_PAGES);
    long const pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::size_t(4) << 30;
    return static_cast<std::size_t>(pages) / 4 * static_cast<std::size_t>(pageSize);
}

} // namespace tvxio
