#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Writes JSON in the layout of the program's documents (the -JSON results and
// the run manifest): each container either puts every member on a line of its
// own, indented two spaces a level, or keeps its members on its own line with
// a separator. The writer places the commas, line breaks and indents, so no
// caller keeps count of them. Appends to a string it does not own.
class JsonWriter {
public:
    enum class Layout { Lines, Inline };

    // Appends to `out`, whose open containers, if any, are declared by Resume.
    explicit JsonWriter(std::string& out) : out(out) {}

    // Declares a container `out` already holds open, outermost first, so that
    // members can be added to a document written earlier. `hasMembers`: it
    // holds some already.
    void Resume(char close, Layout layout, bool hasMembers, std::string_view separator = ", ");

    // Opens an object or an array as the next value. With Layout::Inline the
    // members are joined by `separator`.
    void OpenObject(Layout layout = Layout::Lines, std::string_view separator = ", ");
    void OpenArray(Layout layout = Layout::Lines, std::string_view separator = ", ");
    // Closes the innermost container: "{}" or "[]" when it stayed empty.
    void Close();

    // The key of the next value, inside an object.
    JsonWriter& Key(std::string_view key);

    void String(const std::string& text);
    void Unsigned(std::uint64_t value);
    // JsonText::AppendDouble's spelling: by default 17 significant digits in
    // scientific notation, non-finite values as JavaScript literals.
    void Double(double value, std::chars_format format = std::chars_format::scientific, int precision = 16);
    // The shortest text that reads back as `value`.
    void ShortestDouble(double value);
    void Bool(bool value);
    void Null();
    // Text that is JSON already (a rendered object).
    void Raw(std::string_view json);

    // Nesting depth: how many containers are open.
    std::size_t Depth() const { return levels.size(); }

private:
    struct Level {
        char close;
        Layout layout;
        bool hasMembers;
        std::string separator;
    };

    void Open(char open, char close, Layout layout, std::string_view separator);
    // The comma, line break and indent before a value, unless a key put them already.
    void BeforeValue();
    void Indent(std::size_t depth);

    std::string& out;
    std::vector<Level> levels;
    bool keyWritten = false;
};
