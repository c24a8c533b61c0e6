#include "ViewPage.h"

#include "Cli.h"
#include "SvgPlot.h"

#include <tools/tvx/view/ViewAssets.h>

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <utility>

namespace tvxcli {

namespace {

std::string joined(char const* const* pieces)
{
    std::string out;
    for (; *pieces != nullptr; ++pieces)
        out += *pieces;
    return out;
}

// The template with each @NAME@ marker replaced by its text, in one pass
// over the template alone: what is put in (a file name in the scene, the
// drawing library) is never searched for markers.
std::string filled(std::string const& page, std::vector<std::pair<std::string, std::string>> const& texts)
{
    std::string out;
    std::vector<bool> used(texts.size(), false);
    std::size_t at = 0;
    for (std::size_t open = page.find('@'); open != std::string::npos; open = page.find('@', open + 1)) {
        std::size_t const close = page.find('@', open + 1);
        if (close == std::string::npos)
            break;
        std::string const name = page.substr(open + 1, close - open - 1);
        auto const text = std::find_if(texts.begin(), texts.end(), [&](auto const& t) { return t.first == name; });
        if (text == texts.end())
            continue;
        std::size_t const k = static_cast<std::size_t>(text - texts.begin());
        if (used[k])
            throw std::logic_error("the view template holds @" + name + "@ twice");
        used[k] = true;
        out.append(page, at, open - at);
        out += text->second;
        at = close + 1;
        open = close;
    }
    out.append(page, at, std::string::npos);
    for (std::size_t k = 0; k < texts.size(); ++k)
        if (!used[k])
            throw std::logic_error("the view template lacks @" + texts[k].first + "@");
    return out;
}

// zlib data, which the browser's DecompressionStream("deflate") reads. Level
// 1: the arrays are mostly float bits, on which the higher levels win little
// and cost several times the time (measured on the dragon: 6 MB of 16 MB
// saved either way).
std::string deflateBytes(std::string const& data)
{
    z_stream zs{};
    if (deflateInit(&zs, 1) != Z_OK)
        throw std::runtime_error("deflateInit failed");
    std::string out;
    std::size_t done = 0;
    int rc = Z_OK;
    char chunk[1 << 16];
    // Fed in slices: avail_in is 32 bits wide and a page may hold more.
    while (rc != Z_STREAM_END) {
        if (zs.avail_in == 0) {
            std::size_t const n = std::min<std::size_t>(data.size() - done, 1u << 30);
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + done));
            zs.avail_in = static_cast<uInt>(n);
            done += n;
        }
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        rc = deflate(&zs, done == data.size() ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_STREAM_ERROR) {
            deflateEnd(&zs);
            throw std::runtime_error("deflate failed");
        }
        out.append(chunk, sizeof chunk - zs.avail_out);
    }
    deflateEnd(&zs);
    return out;
}

} // namespace

ViewPage::ViewPage(std::string const& kind, std::string const& title)
{
    m_scene["kind"] = kind;
    m_scene["title"] = title;
    m_scene["arrays"] = Json::array();
}

int ViewPage::addArray(char const* type, std::size_t count, void const* data, std::size_t bytes)
{
    // Typed-array views need their offset a multiple of the element size.
    m_arrays.resize((m_arrays.size() + 7) / 8 * 8, '\0');
    Json& arrays = m_scene["arrays"];
    arrays.push_back({{"type", type}, {"offset", m_arrays.size()}, {"count", count}});
    if (bytes > 0)
        m_arrays.append(static_cast<char const*>(data), bytes);
    return static_cast<int>(arrays.size()) - 1;
}

int ViewPage::addFloats(std::vector<float> const& v)
{
    return addArray("f32", v.size(), v.data(), v.size() * sizeof(float));
}

int ViewPage::addDoubles(std::vector<double> const& v)
{
    return addArray("f64", v.size(), v.data(), v.size() * sizeof(double));
}

int ViewPage::addBytes(std::vector<std::uint8_t> const& v)
{
    return addArray("u8", v.size(), v.data(), v.size());
}

int ViewPage::addIndices(std::vector<std::uint32_t> const& v, std::size_t bound)
{
    if (bound <= 256u) {
        std::vector<std::uint8_t> const small(v.begin(), v.end());
        return addArray("u8", small.size(), small.data(), small.size());
    }
    if (bound <= 65536u) {
        std::vector<std::uint16_t> const mid(v.begin(), v.end());
        return addArray("u16", mid.size(), mid.data(), mid.size() * 2);
    }
    return addArray("u32", v.size(), v.data(), v.size() * 4);
}

std::string ViewPage::packedArrays() const
{
    return deflateBytes(m_arrays);
}

std::string ViewPage::render() const
{
    ViewAssets const& assets = viewAssets();
    if (assets.threeModule == nullptr)
        throw InputError("--view: this tvx was built without three.js, which draws the page; run "
                         "scripts/fetch-three.sh and build again");
    std::string const licence = joined(assets.threeLicence);
    if (licence.find("--") != std::string::npos)
        throw std::logic_error("the three.js licence text cannot sit in an HTML comment");
    Json scene = m_scene;
    scene["encoding"] = "deflate";
    scene["bytes"] = m_arrays.size();
    std::string const notice =
        "three.js " + std::string(assets.threeVersion) + ", embedded below, is under this licence:\n\n" + licence;
    std::string const page = filled(joined(assets.pageHtml), {{"TITLE", xmlEscape(scene.at("title").get<std::string>())},
                                                              {"THREE_NOTICE", notice},
                                                              {"SCENE", jsonForScript(scene)},
                                                              {"ARRAYS", base64(packedArrays())},
                                                              {"THREE", joined(assets.threeModule)},
                                                              {"ORBIT", joined(assets.orbitControls)},
                                                              {"PAGE", joined(assets.pageScript)}});
    return page;
}

bool viewAvailable()
{
    return viewAssets().threeModule != nullptr;
}

void checkViewPath(std::string const& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // The name guards files of other kinds (a mesh named by mistake) from
    // being replaced; a device or a pipe (/dev/stdout) holds no such file.
    std::error_code ec;
    std::filesystem::file_status const st = std::filesystem::status(path, ec);
    bool const special = !ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st) &&
                         !std::filesystem::is_directory(st);
    if (ext != ".html" && ext != ".htm" && !special)
        throw UsageError("--view: '" + path + "' does not end in .html (the view is written as one HTML page)");
    if (!viewAvailable())
        throw InputError("--view: this tvx was built without three.js, which draws the page; run "
                         "scripts/fetch-three.sh and build again");
}

std::string base64(std::string const& bytes)
{
    static char const digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    auto byte = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t const w = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += digits[w >> 18];
        out += digits[(w >> 12) & 63];
        out += digits[(w >> 6) & 63];
        out += digits[w & 63];
    }
    if (i + 1 == bytes.size()) {
        std::uint32_t const w = byte(i) << 16;
        out += digits[w >> 18];
        out += digits[(w >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        std::uint32_t const w = byte(i) << 16 | byte(i + 1) << 8;
        out += digits[w >> 18];
        out += digits[(w >> 12) & 63];
        out += digits[(w >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string jsonForScript(Json const& doc)
{
    // Compact: the scene of a long sweep or a big plan is all numbers.
    std::string const text = doc.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
    }
    return out;
}

} // namespace tvxcli
