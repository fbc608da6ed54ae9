#pragma once
// The editor's own command-line options and its identity towards the desktop.
#include <iosfwd>
#include <optional>

namespace qv {

// Answers --help and --version, which must work without a display: call it before the
// application object exists. Returns the exit code when the command line asked for one of
// them, else nothing (the rest of the command line is left to Qt and the editor).
std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::ostream& out);

// Version, desktop entry name and default window icon of the running application.
void SetProgramIdentity();

}  // namespace qv
