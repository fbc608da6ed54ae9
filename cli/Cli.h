#pragma once
// quorvalin-cli: the batch tool's commands, table-driven so that a command is one line in
// the table (Cli.cpp) plus its Run function.
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Exceptions.h"

namespace qv {

// A command line the tool cannot make sense of: exit code 2.
class EUsageError : public Exception {
    using Exception::Exception;
};

struct TCliCommand {
    std::string_view Name;
    std::string_view Summary;  // one line in the tool's help
    std::string_view Help;     // the command's own --help text
    // Runs the command with the arguments after its name; failures are exceptions.
    void (*Run)(const std::vector<std::string>& args, std::ostream& out);
};

// Exit codes.
constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Runs the tool on its arguments (without the program name): help and results go to out,
// error messages to err. Returns the exit code.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The command table.
const std::vector<TCliCommand>& CliCommands();

// Argument helpers for the Run functions.
struct TParsedArgs {
    std::vector<std::string> Positional;
    std::vector<std::pair<std::string, std::string>> Options;  // "--name", value
};
// Splits arguments into positionals and the named options that take a value
// ("--name value" or "--name=value") or none (flags, kept with an empty value); "--" ends
// the options. Other options: EUsageError.
TParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string_view>& valueOptions,
                      const std::vector<std::string_view>& flagOptions = {});
// A whole decimal number within min..max, else EUsageError naming what.
int32_t ParseIntArg(const std::string& text, int32_t min, int32_t max, std::string_view what);

class TMorphGrid;
// Opens a project as the editor's Open project does on a fresh start: the project's folder is
// the current folder while its pictures load (so pictures named by bare name are found), and
// the starting folder is current again afterwards. project must be an absolute path; a missing
// project file is a failure here (EFOpenError), not the editor's silent no-op.
void OpenProject(const std::string& project, TMorphGrid& grid);

// The commands of the table.
void RunConvert(const std::vector<std::string>& args, std::ostream& out);
void RunInfo(const std::vector<std::string>& args, std::ostream& out);
void RunRender(const std::vector<std::string>& args, std::ostream& out);

}  // namespace qv
