// quorvalin-cli: batch conversion, picture information and project rendering.
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "imageio/Registration.h"

namespace {

// The program's units start before anything else and stop after everything else.
struct TUnits {
    TUnits() { qv::InitializeUnits(); }
    ~TUnits() { qv::FinalizeUnits(); }
};

}  // namespace

int main(int argc, char** argv) {
    // No window here: the framework's question hook keeps its default answer, OK.
    TUnits units;
    std::vector<std::string> args(argv + 1, argv + argc);
    return qv::RunCli(args, std::cout, std::cerr);
}
