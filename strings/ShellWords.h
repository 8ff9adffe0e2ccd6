#pragma once

#include <string>
#include <vector>

namespace SLib {

// argv[1..argc-1] joined with single spaces, each argument that is empty or holds
// whitespace or a single quote wrapped in single quotes (a quote inside becomes
// '\''), and each that holds a control character (as EscapedControls sees them:
// C0, C1 and bidirectional controls) written as bash's $'...' with the
// character's bytes escaped ($'x\nHypervisor: no', $'A\xc2\x9b2J'), so that the
// text stays on one line and pastes back into a shell as the same arguments.
std::string JoinShellWords(int argc, const char* const argv[]);
// The same of arguments already taken from argv (the program left out).
std::string JoinShellWords(const std::vector<std::string>& arguments);

}  // namespace SLib
