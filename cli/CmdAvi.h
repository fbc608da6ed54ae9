#pragma once
// The movie command of quorvalin-cli.
#include <iosfwd>
#include <string>
#include <vector>

namespace qv {

// avi PROJECT.grid --duration MS [--wav FILE.wav] OUT.avi
void RunAvi(const std::vector<std::string>& args, std::ostream& out);

}  // namespace qv
