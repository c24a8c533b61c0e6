#pragma once

// Writers of small mesh files in the formats the tool reads, for the tool's
// tests. Written by hand from the formats' definitions, independently of the
// importer under test. Coordinates go through float first and are printed
// with 9 significant digits, so that a reader gets exactly the floats back.

#include <tests/support/Meshes.h>

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tvxtest {

inline std::string fl(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(static_cast<float>(v)));
    return buf;
}

inline void writeText(std::string const& path, std::string const& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

inline std::string readText(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string objText(Mesh const& m)
{
    std::ostringstream o;
    o << "# test mesh\n";
    for (auto const& p : m.points)
        o << "v " << fl(p[0]) << ' ' << fl(p[1]) << ' ' << fl(p[2]) << '\n';
    for (auto const& t : m.triangles)
        o << "f " << t[0] + 1 << ' ' << t[1] + 1 << ' ' << t[2] + 1 << '\n';
    return o.str();
}

inline std::string stlAsciiText(Mesh const& m)
{
    std::ostringstream o;
    o << "solid test\n";
    for (auto const& t : m.triangles) {
        o << " facet normal 0 0 0\n  outer loop\n";
        for (unsigned v : t)
            o << "   vertex " << fl(m.points[v][0]) << ' ' << fl(m.points[v][1]) << ' ' << fl(m.points[v][2]) << '\n';
        o << "  endloop\n endfacet\n";
    }
    o << "endsolid test\n";
    return o.str();
}

inline std::string stlBinaryBytes(Mesh const& m)
{
    std::string b(80, '\0');
    std::memcpy(&b[0], "binary test mesh", 16);
    std::uint32_t const n = static_cast<std::uint32_t>(m.triangles.size());
    b.append(reinterpret_cast<char const*>(&n), 4);
    for (auto const& t : m.triangles) {
        float rec[12] = {0, 0, 0};
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c)
                rec[3 + 3 * k + c] = static_cast<float>(m.points[t[static_cast<std::size_t>(k)]][static_cast<std::size_t>(c)]);
        b.append(reinterpret_cast<char const*>(rec), sizeof rec);
        b.append(2, '\0');
    }
    return b;
}

inline std::string plyAsciiText(Mesh const& m)
{
    std::ostringstream o;
    o << "ply\nformat ascii 1.0\nelement vertex " << m.points.size()
      << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << m.triangles.size()
      << "\nproperty list uchar int vertex_indices\nend_header\n";
    for (auto const& p : m.points)
        o << fl(p[0]) << ' ' << fl(p[1]) << ' ' << fl(p[2]) << '\n';
    for (auto const& t : m.triangles)
        o << "3 " << t[0] << ' ' << t[1] << ' ' << t[2] << '\n';
    return o.str();
}

inline std::string plyBinaryBytes(Mesh const& m)
{
    std::ostringstream o;
    o << "ply\nformat binary_little_endian 1.0\nelement vertex " << m.points.size()
      << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << m.triangles.size()
      << "\nproperty list uchar int vertex_indices\nend_header\n";
    std::string b = o.str();
    for (auto const& p : m.points)
        for (int c = 0; c < 3; ++c) {
            float const f = static_cast<float>(p[static_cast<std::size_t>(c)]);
            b.append(reinterpret_cast<char const*>(&f), 4);
        }
    for (auto const& t : m.triangles) {
        b += '\3';
        for (unsigned v : t) {
            std::int32_t const i = static_cast<std::int32_t>(v);
            b.append(reinterpret_cast<char const*>(&i), 4);
        }
    }
    return b;
}

inline std::string offText(Mesh const& m)
{
    std::ostringstream o;
    o << "OFF\n" << m.points.size() << ' ' << m.triangles.size() << " 0\n";
    for (auto const& p : m.points)
        o << fl(p[0]) << ' ' << fl(p[1]) << ' ' << fl(p[2]) << '\n';
    for (auto const& t : m.triangles)
        o << "3 " << t[0] << ' ' << t[1] << ' ' << t[2] << '\n';
    return o.str();
}

inline std::string gzipBytes(std::string const& data)
{
    z_stream zs{};
    // 15 + 16: gzip wrapping, as the gzip program writes it.
    if (deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    int const rc = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate");
    return out;
}

// A temporary folder removed with everything in it when the object goes.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tvx-tool-test-XXXXXX").string();
        if (mkdtemp(&pattern[0]) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;
    std::string const& path() const { return m_path; }
    std::string file(std::string const& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace tvxtest
