#include "strings/ShellWords.h"

#include "strings/EscapedText.h"

namespace SLib {
namespace {

// Whatever EscapedControls escapes: C0 and C1 controls and the bidirectional ones.
bool HasControl(const std::string& text) { return EscapedControls(text) != text; }

std::string ShellQuoted(const std::string& argument) {
    // Bash's $'...' writes control characters as escapes: the argument stays one
    // field on one line of the run conditions, and still pastes back.
    if (HasControl(argument)) {
        std::string quoted = "$'";
        for (const char c : argument) {
            if (c == '\\' || c == '\'') quoted += '\\';
            quoted += c;
        }
        return EscapedControls(quoted) + "'";
    }
    if (!argument.empty() && argument.find_first_of(" \t\r\n'") == std::string::npos) return argument;
    std::string quoted = "'";
    for (const char c : argument) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

std::string JoinShellWords(int argc, const char* const argv[]) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc && argv != nullptr && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
    return JoinShellWords(arguments);
}

std::string JoinShellWords(const std::vector<std::string>& arguments) {
    std::string joined;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) joined += ' ';
        joined += ShellQuoted(arguments[i]);
    }
    return joined;
}

}  // namespace SLib
