#include "JsonWriter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace tvxcli {

void JsonWriter::newline()
{
    m_out += '\n';
    m_out.append(2 * m_stack.size(), ' ');
}

void JsonWriter::beforeValue()
{
    if (m_done)
        throw std::logic_error("JSON: a second top-level value");
    if (m_stack.empty())
        return;
    if (m_stack.back() == Frame::Object) {
        if (!m_keyPending)
            throw std::logic_error("JSON: a value inside an object needs a key");
        m_keyPending = false;
        return;
    }
    if (m_hasItems.back())
        m_out += ',';
    m_hasItems.back() = true;
    newline();
}

void JsonWriter::raw(std::string const& text)
{
    beforeValue();
    m_out += text;
    if (m_stack.empty())
        m_done = true;
}

JsonWriter& JsonWriter::beginObject()
{
    beforeValue();
    m_out += '{';
    m_stack.push_back(Frame::Object);
    m_hasItems.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::beginArray()
{
    beforeValue();
    m_out += '[';
    m_stack.push_back(Frame::Array);
    m_hasItems.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endObject()
{
    if (m_stack.empty() || m_stack.back() != Frame::Object || m_keyPending)
        throw std::logic_error("JSON: no object to close");
    bool const had = m_hasItems.back();
    m_stack.pop_back();
    m_hasItems.pop_back();
    if (had)
        newline();
    m_out += '}';
    if (m_stack.empty())
        m_done = true;
    return *this;
}

JsonWriter& JsonWriter::endArray()
{
    if (m_stack.empty() || m_stack.back() != Frame::Array)
        throw std::logic_error("JSON: no array to close");
    bool const had = m_hasItems.back();
    m_stack.pop_back();
    m_hasItems.pop_back();
    if (had)
        newline();
    m_out += ']';
    if (m_stack.empty())
        m_done = true;
    return *this;
}

JsonWriter& JsonWriter::key(std::string const& name)
{
    if (m_stack.empty() || m_stack.back() != Frame::Object || m_keyPending)
        throw std::logic_error("JSON: a key outside an object");
    if (m_hasItems.back())
        m_out += ',';
    m_hasItems.back() = true;
    newline();
    m_out += quote(name);
    m_out += ": ";
    m_keyPending = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string const& s)
{
    raw(quote(s));
    return *this;
}

JsonWriter& JsonWriter::value(char const* s)
{
    raw(quote(s == nullptr ? std::string() : std::string(s)));
    return *this;
}

JsonWriter& JsonWriter::value(double v)
{
    if (!std::isfinite(v))
        return null();
    raw(shortest(v));
    return *this;
}

std::string JsonWriter::shortest(double v)
{
    // The fewest digits that read back to the same double: 0.1 prints as
    // 0.1, not 0.10000000000000001.
    char buf[40];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (digits == 17 || std::strtod(buf, nullptr) == v)
            break;
    }
    return buf;
}

JsonWriter& JsonWriter::numbers(double const* v, std::size_t n)
{
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0)
            text += ", ";
        text += std::isfinite(v[i]) ? shortest(v[i]) : std::string("null");
    }
    text += "]";
    raw(text);
    return *this;
}

JsonWriter& JsonWriter::value(float v)
{
    if (!std::isfinite(v))
        return null();
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
    raw(buf);
    return *this;
}

JsonWriter& JsonWriter::value(long long v)
{
    raw(std::to_string(v));
    return *this;
}

JsonWriter& JsonWriter::value(unsigned long long v)
{
    raw(std::to_string(v));
    return *this;
}

JsonWriter& JsonWriter::value(bool b)
{
    raw(b ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::null()
{
    raw("null");
    return *this;
}

std::string const& JsonWriter::str() const
{
    if (!m_stack.empty() || !m_done)
        throw std::logic_error("JSON: document not complete");
    return m_out;
}

std::string JsonWriter::quote(std::string const& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

} // namespace tvxcli
