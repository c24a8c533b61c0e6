#pragma once

// One self-contained HTML page that shows a scene of meshes in 3D: what
// `--view FILE.html` writes for query, sweep and plan.
//
// A command gathers its numbers here as arrays (points as float32, triangle
// corners as the smallest unsigned type that holds the point ranks, per-step
// values as float64, float32 or bytes) and describes the scene in a small
// JSON document that refers to the arrays by handle; render() packs the
// arrays into one zlib-compressed, base64 block and wraps it, the JSON, the
// drawing library and the page's script (tools/tvx/view/, embedded at build
// time) into one HTML file that opens from disk without a server or a
// network. The page's script documents the JSON it reads.

#include "JsonOutput.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvxcli {

class ViewPage {
public:
    // kind: "query", "sweep" or "plan"; title: the page's heading.
    ViewPage(std::string const& kind, std::string const& title);

    // Each returns the handle of the array in the page ({"array": handle}
    // in the JSON refers to it).
    int addFloats(std::vector<float> const& values);
    int addDoubles(std::vector<double> const& values);
    int addBytes(std::vector<std::uint8_t> const& values);
    // Point ranks, all below bound: stored as uint8, uint16 or uint32,
    // whichever is the smallest that holds bound - 1.
    int addIndices(std::vector<std::uint32_t> const& values, std::size_t bound);

    // The scene description, filled by the command ("meshes", "closest",
    // "sweep", "plan", "facts"); "kind", "title" and "arrays" are set here.
    Json& scene() { return m_scene; }

    // The whole page. Throws InputError when the drawing library was not
    // embedded into this build.
    std::string render() const;

    // The array block as the page holds it before base64: zlib data of the
    // arrays laid end to end, each at a multiple of 8 bytes.
    std::string packedArrays() const;

private:
    int addArray(char const* type, std::size_t count, void const* data, std::size_t bytes);

    Json m_scene;
    std::string m_arrays;
};

// Whether this build embeds the drawing library, so that --view can work.
bool viewAvailable();

// Checks a --view path before any work: it must end in .html or .htm (or
// name a device or a pipe), and the build must embed the drawing library. Throws UsageError or InputError.
void checkViewPath(std::string const& path);

// RFC 4648 base64, with padding.
std::string base64(std::string const& bytes);

// JSON for a script element: every "<" written "\u003c" (it only occurs in
// strings), so that no text of the scene (a file name) can close the
// element or open a comment in it.
std::string jsonForScript(Json const& doc);

} // namespace tvxcli
