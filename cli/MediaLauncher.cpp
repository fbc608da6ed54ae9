// The commands of the quick tool that need FFmpeg, OpenCV or dlib. Loading those libraries
// (well over a hundred shared objects) costs some 40 ms of start-up, more than a whole
// render of a 1080p picture, so quorvalin-cli does not link them: for these commands it
// becomes (exec) quorvalin-cli-media, the same tool with every library, on the same
// arguments. The process, its exit status and its output stay the one the user started.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>

#include "cli/Cli.h"
#include "cli/CmdAlign.h"
#include "cli/CmdVideo.h"
#include "framework/Exceptions.h"
#include "framework/System.h"

#ifndef QV_MEDIA_TOOL_FROM_BINDIR
#define QV_MEDIA_TOOL_FROM_BINDIR "../libexec/quorvalin"
#endif

namespace qv {

namespace {

constexpr const char* kMediaTool = "quorvalin-cli-media";

[[noreturn]] void BecomeMediaTool(std::string_view command, const std::vector<std::string>& args) {
    const std::string exe = ExecutablePath();
    const std::string dir = exe.substr(0, exe.rfind('/') + 1);
    // Beside this program in the build folder; in the private program folder once installed.
    const std::string candidates[] = {dir + kMediaTool, dir + QV_MEDIA_TOOL_FROM_BINDIR "/" + kMediaTool};
    std::vector<std::string> argv{kMediaTool, std::string(command)};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    int error = ENOENT;
    for (const std::string& path : candidates) {
        if (::access(path.c_str(), X_OK) != 0) continue;
        ::execv(path.c_str(), cargv.data());
        error = errno;  // only reached when exec failed
    }
    throw Exception("The " + std::string(command) + " command needs " + kMediaTool + ", which cannot be started (" +
                    std::strerror(error) + "; looked for " + candidates[0] + " and " + candidates[1] + ")");
}

}  // namespace

void RunVideo(const std::vector<std::string>& args, std::ostream&) { BecomeMediaTool("video", args); }
void RunMatch(const std::vector<std::string>& args, std::ostream&) { BecomeMediaTool("match", args); }
void RunFaceGrid(const std::vector<std::string>& args, std::ostream&) { BecomeMediaTool("facegrid", args); }

}  // namespace qv
