#include "driver/output/JsonWriter.h"

#include "driver/output/JsonText.h"

void JsonWriter::Indent(std::size_t depth) { out.append(2 * depth, ' '); }

void JsonWriter::BeforeValue() {
    if (keyWritten) {
        keyWritten = false;
        return;
    }
    if (levels.empty()) return;
    Level& level = levels.back();
    if (level.layout == Layout::Lines) {
        out += level.hasMembers ? ",\n" : "\n";
        Indent(levels.size());
    } else if (level.hasMembers) {
        out += level.separator;
    }
    level.hasMembers = true;
}

void JsonWriter::Resume(char close, Layout layout, bool hasMembers, std::string_view separator) {
    levels.push_back({close, layout, hasMembers, std::string(separator)});
}

void JsonWriter::Open(char open, char close, Layout layout, std::string_view separator) {
    BeforeValue();
    out += open;
    levels.push_back({close, layout, false, std::string(separator)});
}

void JsonWriter::OpenObject(Layout layout, std::string_view separator) { Open('{', '}', layout, separator); }

void JsonWriter::OpenArray(Layout layout, std::string_view separator) { Open('[', ']', layout, separator); }

void JsonWriter::Close() {
    const Level level = levels.back();
    levels.pop_back();
    if (level.layout == Layout::Lines && level.hasMembers) {
        out += '\n';
        Indent(levels.size());
    }
    out += level.close;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    BeforeValue();
    JsonText::AppendString(out, std::string(key));
    out += ": ";
    keyWritten = true;
    return *this;
}

void JsonWriter::String(const std::string& text) {
    BeforeValue();
    JsonText::AppendString(out, text);
}

void JsonWriter::Unsigned(std::uint64_t value) {
    BeforeValue();
    out += std::to_string(value);
}

void JsonWriter::Double(double value, std::chars_format format, int precision) {
    BeforeValue();
    JsonText::AppendDouble(out, value, format, precision);
}

void JsonWriter::ShortestDouble(double value) {
    BeforeValue();
    JsonText::AppendShortestDouble(out, value);
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    out += value ? "true" : "false";
}

void JsonWriter::Null() {
    BeforeValue();
    out += "null";
}

void JsonWriter::Raw(std::string_view json) {
    BeforeValue();
    out += json;
}
