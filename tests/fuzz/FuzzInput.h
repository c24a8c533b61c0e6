#pragma once

// The byte stream a fuzz target reads its decisions from, and the
// vocabulary shared by the targets and the seed writer.
//
// Reading past the end yields zeros, so every input, however short, is a
// complete program: the targets stop when exhausted() turns true.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace tvxfuzz {

class FuzzInput {
public:
    FuzzInput(std::uint8_t const* data, std::size_t size) : m_data(data), m_size(size) {}

    bool exhausted() const { return m_at >= m_size; }

    std::uint8_t u8() { return m_at < m_size ? m_data[m_at++] : 0; }

    template <typename T>
    T raw()
    {
        unsigned char bytes[sizeof(T)] = {};
        for (unsigned char& b : bytes)
            b = u8();
        T v;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }

    // One of n choices (n > 0).
    unsigned below(unsigned n) { return u8() % n; }

private:
    std::uint8_t const* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// The scene program's operations, one byte each (taken modulo OpCount).
enum SceneOp : std::uint8_t {
    OpPolyhedron,      // new polyhedron: point count, triangle count, points, triangles
    OpSharedPolyhedron, // new polyhedron over the mesh data of an existing one
    OpGrow,            // points and triangles added to an existing polyhedron
    OpAssembly,        // new assembly
    OpAttach,          // assembly, object, rank (signed byte)
    OpDetach,          // assembly, child
    OpPlace,           // object, relative (even) or absolute (odd), placement
    OpTolerance,       // object, value
    OpActivation,      // object, on (even) or off (odd)
    OpEntity,          // object: makeCollisionEntity, with or without a delegate
    OpRemoveEntity,    // object: removeCollisionEntities
    OpScale,           // object, centre, factor
    OpTransform,       // object, placement
    OpUnlock,          // object: unlock, then made an entity (odd) or not
    OpList,            // list 1 (even) or 2 (odd), add (bit 1 clear) or remove, object
    OpComplement,      // list, root: the other list becomes the complement
    OpQuery,           // query type (0 to 3): compute and read every result
    OpCrossCheck,      // the four query types, checked against one another
    OpDrop,            // object: the program lets go of it (the scene may keep it)
    OpNewAnalysis,     // a fresh analysis over the lists, swapped (odd) or not
    OpCount
};

inline char const* const kSceneOpNames[OpCount] = {
    "polyhedron", "shared polyhedron", "grow",     "assembly",   "attach",  "detach", "place",
    "tolerance",  "activation",        "entity",   "remove entity", "scale", "transform", "unlock",
    "list",       "complement",        "query",    "cross-check", "drop",   "new analysis"};

// The first byte of an import input: bit 7 keeps the file's parts apart, the
// rest picks the name the bytes come with, whose extension chooses the reader
// ("" leaves the choice to the content).
inline char const* const kImportNames[] = {"mesh.obj", "mesh.stl", "mesh.ply", "mesh.off", "mesh"};
constexpr unsigned kImportNameCount = sizeof(kImportNames) / sizeof(kImportNames[0]);

inline std::string importName(std::uint8_t selector)
{
    return kImportNames[(selector & 0x7fu) % kImportNameCount];
}

// The selector byte that gives a file its own name's reader (by extension,
// compared without case), or the content's when no name matches.
inline std::uint8_t importSelector(std::string const& extension, bool keepParts)
{
    unsigned pick = kImportNameCount - 1;
    for (unsigned i = 0; i + 1 < kImportNameCount; ++i) {
        std::string const known = std::string(kImportNames[i]).substr(5);
        if (extension.size() == known.size()) {
            bool same = true;
            for (std::size_t k = 0; k < known.size(); ++k)
                same = same && (extension[k] | 0x20) == known[k];
            if (same)
                pick = i;
        }
    }
    return static_cast<std::uint8_t>(pick | (keepParts ? 0x80u : 0u));
}

} // namespace tvxfuzz
