#pragma once
// The video command of quorvalin-cli.
#include <iosfwd>
#include <string>
#include <vector>

namespace qv {

// video PROJECT.grid --duration MS [--fps N] [--quality Q] [--pingpong] [--wav FILE] OUT
void RunVideo(const std::vector<std::string>& args, std::ostream& out);

}  // namespace qv
