#pragma once
// The matching commands of quorvalin-cli.
#include <iosfwd>
#include <string>
#include <vector>

namespace qv {

// match PROJECT.grid OUT.grid [--mode auto|faces|similar] [--model FILE]
void RunMatch(const std::vector<std::string>& args, std::ostream& out);
// facegrid PROJECT.grid OUT.grid [--model FILE]
void RunFaceGrid(const std::vector<std::string>& args, std::ostream& out);

}  // namespace qv
