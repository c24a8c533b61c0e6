#pragma once

// A strict JSON reader for the tool's tests: it accepts exactly RFC 8259
// documents (no trailing commas, no comments, no NaN) and throws on anything
// else, so that output a script could not parse fails the test.

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tvxtest {

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    bool isNull() const { return kind == Kind::Null; }
    bool has(std::string const& k) const { return kind == Kind::Object && fields.count(k) != 0; }
    Json const& operator[](std::string const& k) const
    {
        if (kind != Kind::Object)
            throw std::runtime_error("not an object, looking for '" + k + "'");
        auto const it = fields.find(k);
        if (it == fields.end())
            throw std::runtime_error("no field '" + k + "'");
        return it->second;
    }
    Json const& operator[](std::size_t i) const
    {
        if (kind != Kind::Array || i >= items.size())
            throw std::runtime_error("no item " + std::to_string(i));
        return items[i];
    }
    double num() const
    {
        if (kind != Kind::Number)
            throw std::runtime_error("not a number");
        return number;
    }
    bool flag() const
    {
        if (kind != Kind::Bool)
            throw std::runtime_error("not a boolean");
        return boolean;
    }
    std::string const& str() const
    {
        if (kind != Kind::String)
            throw std::runtime_error("not a string");
        return text;
    }
};

class JsonParser {
public:
    static Json parse(std::string const& s)
    {
        JsonParser p(s);
        p.ws();
        Json v = p.value();
        p.ws();
        if (p.m_i != s.size())
            p.fail("trailing characters");
        return v;
    }

private:
    explicit JsonParser(std::string const& s) : m_s(s) {}

    [[noreturn]] void fail(std::string const& why) const
    {
        throw std::runtime_error("JSON: " + why + " at offset " + std::to_string(m_i));
    }
    void ws()
    {
        while (m_i < m_s.size() && (m_s[m_i] == ' ' || m_s[m_i] == '\n' || m_s[m_i] == '\r' || m_s[m_i] == '\t'))
            ++m_i;
    }
    bool eat(char const* lit)
    {
        std::size_t const n = std::char_traits<char>::length(lit);
        if (m_s.compare(m_i, n, lit) == 0) {
            m_i += n;
            return true;
        }
        return false;
    }
    Json value()
    {
        if (m_i >= m_s.size())
            fail("unexpected end");
        Json v;
        char const c = m_s[m_i];
        if (c == '{') {
            v.kind = Json::Kind::Object;
            ++m_i;
            ws();
            if (m_i < m_s.size() && m_s[m_i] == '}') {
                ++m_i;
                return v;
            }
            for (;;) {
                ws();
                if (m_i >= m_s.size() || m_s[m_i] != '"')
                    fail("expected a key");
                std::string const k = string();
                ws();
                if (m_i >= m_s.size() || m_s[m_i] != ':')
                    fail("expected ':'");
                ++m_i;
                ws();
                if (v.fields.count(k) != 0)
                    fail("duplicate key " + k);
                v.fields[k] = value();
                ws();
                if (m_i < m_s.size() && m_s[m_i] == ',') {
                    ++m_i;
                    continue;
                }
                if (m_i < m_s.size() && m_s[m_i] == '}') {
                    ++m_i;
                    return v;
                }
                fail("expected ',' or '}'");
            }
        }
        if (c == '[') {
            v.kind = Json::Kind::Array;
            ++m_i;
            ws();
            if (m_i < m_s.size() && m_s[m_i] == ']') {
                ++m_i;
                return v;
            }
            for (;;) {
                ws();
                v.items.push_back(value());
                ws();
                if (m_i < m_s.size() && m_s[m_i] == ',') {
                    ++m_i;
                    continue;
                }
                if (m_i < m_s.size() && m_s[m_i] == ']') {
                    ++m_i;
                    return v;
                }
                fail("expected ',' or ']'");
            }
        }
        if (c == '"') {
            v.kind = Json::Kind::String;
            v.text = string();
            return v;
        }
        if (eat("true")) {
            v.kind = Json::Kind::Bool;
            v.boolean = true;
            return v;
        }
        if (eat("false")) {
            v.kind = Json::Kind::Bool;
            return v;
        }
        if (eat("null"))
            return v;
        return number();
    }
    std::string string()
    {
        ++m_i; // opening quote
        std::string out;
        while (m_i < m_s.size()) {
            char const c = m_s[m_i++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_i >= m_s.size())
                fail("bad escape");
            char const e = m_s[m_i++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (m_i + 4 > m_s.size())
                    fail("bad \\u escape");
                unsigned const code = static_cast<unsigned>(std::stoul(m_s.substr(m_i, 4), nullptr, 16));
                m_i += 4;
                if (code >= 0x80)
                    fail("non-ASCII \\u escape not expected from the tool");
                out += static_cast<char>(code);
                break;
            }
            default: fail("bad escape");
            }
        }
        fail("unterminated string");
    }
    Json number()
    {
        std::size_t const start = m_i;
        if (m_i < m_s.size() && m_s[m_i] == '-')
            ++m_i;
        if (m_i >= m_s.size() || !std::isdigit(static_cast<unsigned char>(m_s[m_i])))
            fail("bad value");
        if (m_s[m_i] == '0' && m_i + 1 < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i + 1])))
            fail("leading zero");
        while (m_i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i])))
            ++m_i;
        if (m_i < m_s.size() && m_s[m_i] == '.') {
            ++m_i;
            if (m_i >= m_s.size() || !std::isdigit(static_cast<unsigned char>(m_s[m_i])))
                fail("bad fraction");
            while (m_i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i])))
                ++m_i;
        }
        if (m_i < m_s.size() && (m_s[m_i] == 'e' || m_s[m_i] == 'E')) {
            ++m_i;
            if (m_i < m_s.size() && (m_s[m_i] == '+' || m_s[m_i] == '-'))
                ++m_i;
            if (m_i >= m_s.size() || !std::isdigit(static_cast<unsigned char>(m_s[m_i])))
                fail("bad exponent");
            while (m_i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i])))
                ++m_i;
        }
        Json v;
        v.kind = Json::Kind::Number;
        v.number = std::strtod(m_s.substr(start, m_i - start).c_str(), nullptr);
        return v;
    }

    std::string const& m_s;
    std::size_t m_i = 0;
};

} // namespace tvxtest
