#pragma once

// A streaming JSON writer for the tool's --json output: objects, arrays,
// strings, numbers, booleans and null, indented two spaces a level.
//
// Numbers are printed so that they read back to the same value: doubles with
// the fewest of 15 to 17 significant digits that do, floats with 9. Non-finite numbers, which JSON cannot
// hold, are written as null. Misuse (a value where a key is due, closing what
// is not open) throws std::logic_error, so a malformed document is a bug
// caught at once rather than output a script trips over.

#include <cstddef>
#include <string>
#include <vector>

namespace tvxcli {

class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string const& name);

    JsonWriter& value(std::string const& s);
    JsonWriter& value(char const* s);
    JsonWriter& value(double v);
    JsonWriter& value(float v);
    JsonWriter& value(long long v);
    JsonWriter& value(unsigned long long v);
    JsonWriter& value(int v) { return value(static_cast<long long>(v)); }
    JsonWriter& value(unsigned int v) { return value(static_cast<unsigned long long>(v)); }
    JsonWriter& value(unsigned long v) { return value(static_cast<unsigned long long>(v)); }
    JsonWriter& value(long v) { return value(static_cast<long long>(v)); }
    JsonWriter& value(bool b);
    JsonWriter& null();
    // A short array of numbers on one line, as "[1, 2.5, 3]".
    JsonWriter& numbers(double const* v, std::size_t n);

    // key(name) followed by value(v).
    template <typename T>
    JsonWriter& field(std::string const& name, T const& v)
    {
        key(name);
        return value(v);
    }

    // The document; throws std::logic_error if something is still open.
    std::string const& str() const;

    static std::string quote(std::string const& s);
    // The shortest decimal text that reads back to v (finite v).
    static std::string shortest(double v);

private:
    enum class Frame { Object, Array };
    void beforeValue();
    void raw(std::string const& text);
    void newline();

    std::string m_out;
    std::vector<Frame> m_stack;
    std::vector<bool> m_hasItems;
    bool m_keyPending = false;
    bool m_done = false;
};

} // namespace tvxcli
