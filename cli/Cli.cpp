#include "cli/Cli.h"
#include "cli/CliRenderOptions.h"
#include "cli/CmdAlign.h"
#include "cli/CmdAvi.h"
#include "cli/CmdVideo.h"
#include "qv/Version.h"

#include <charconv>
#include <exception>
#include <new>
#include <ostream>

namespace qv {

namespace {

constexpr std::string_view kTool = "quorvalin-cli";

// A new command: its Run function in its own file, declared in Cli.h (or a header of
// its own included here), and one row in this table.
const std::vector<TCliCommand> kCommands = {
    {"convert", "Load a picture and save it in the format of another extension",
     "Usage: quorvalin-cli convert IN OUT\n"
     "\n"
     "Loads the picture IN with the reader its extension chooses and saves it as OUT in\n"
     "the format of OUT's extension (bmp, dib, rle: Windows bitmap; jpg, jpeg, jpe, jfif: JPEG;\n"
     "png: PNG; tga: Targa). The other extensions are only read and cannot be saved.\n",
     RunConvert},
    {"info", "Show a picture's reader class, size, pixel format and palette",
     "Usage: quorvalin-cli info FILE\n"
     "\n"
     "Loads FILE like the editor does and prints the reader class, the width and height\n"
     "in pixels, the pixel format and the number of palette entries, one per line.\n",
     RunInfo},
    {"render", "Render a project's in-between picture at a position",
     "Usage: quorvalin-cli render PROJECT.grid --position P [--smooth] [--shape-curve CURVE] "
     "[--colour-curve CURVE] OUT\n"
     "\n"
     "Opens the project like the editor's \"Open project\" (the project's folder becomes\n"
     "the current folder, so pictures moved along with it are found by their names),\n"
     "renders the in-between picture at position P (0 = start picture, 256 = end\n"
     "picture) on white, and saves it as OUT in the format of OUT's extension.\n"
     "Relative paths are taken from the folder the tool was started in.\n"
     "\n"
     "Sampling and timing:\n" QV_RENDER_OPTIONS_HELP,
     RunRender},
    {"avi", "Write a project's whole transition as an AVI movie",
     "Usage: quorvalin-cli avi PROJECT.grid --duration MS [--wav FILE.wav] [--smooth] "
     "[--shape-curve CURVE] [--colour-curve CURVE] OUT.avi\n"
     "\n"
     "Opens the project like \"render\" does and writes the transition from the start\n"
     "picture to the end picture as an uncompressed AVI movie of the picture's size, like\n"
     "the editor's \"Save as avi\": one frame every 40 ms of the duration MS, or every\n"
     "MS/255 ms from 10200 ms on (at most 256 frames; below 40 ms the two end pictures).\n"
     "With --wav, the WAV file's sound is added as a second stream. An existing OUT.avi\n"
     "is replaced only by a complete movie.\n"
     "Progress goes to standard error when it is a terminal.\n"
     "\n"
     "Sampling and timing:\n" QV_RENDER_OPTIONS_HELP,
     RunAvi},
    {"video", "Write a project's transition as an MP4, WebM, animated GIF or AVI movie",
     "Usage: quorvalin-cli video PROJECT.grid --duration MS [--fps N] [--quality Q]\n"
     "                           [--pingpong] [--wav FILE.wav] [--smooth] [--shape-curve CURVE]\n"
     "                           [--colour-curve CURVE] OUT.(mp4|webm|gif|avi)\n"
     "\n"
     "Opens the project like \"render\" does and writes the transition from the start\n"
     "picture (position 0) to the end picture (position 256) as a movie of the picture's\n"
     "size, in the format of OUT's extension: mp4 (H.264), webm (VP9), gif (a palette\n"
     "per frame, dithered, looping forever) or avi (uncompressed).\n"
     "  --duration MS  how long the transition lasts (1 to 3600000 ms)\n"
     "  --fps N        frames per second, 1 to 120 (default 25)\n"
     "  --quality Q    constant rate factor, lower is better: mp4 0-51 (default 18),\n"
     "                 webm 0-63 (default 32); gif and avi ignore it\n"
     "  --pingpong     go back to the start picture after the end, for loops\n"
     "  --wav FILE     sound from a PCM WAV file: AAC in mp4, Opus in webm, as it is\n"
     "                 in avi; cut where the movie ends (mp4, webm); gif has none\n"
     "MP4 and WebM pictures with an odd width or height get one more column or row,\n"
     "a copy of the last. An existing OUT is replaced only by a complete movie.\n"
     "Progress goes to standard error when it is a terminal.\n"
     "\n"
     "Sampling and timing:\n" QV_RENDER_OPTIONS_HELP,
     RunVideo},
    {"match", "Move a project's end points onto the matches of its start points",
     "Usage: quorvalin-cli match PROJECT.grid OUT.grid [--mode auto|faces|similar] [--model FILE]\n"
     "\n"
     "Opens the project like \"render\" does, moves every end point to the place in the end\n"
     "picture that matches its start point, and saves the result as the project OUT.grid\n"
     "(same pictures, same start points). Border points slide along their edge; the\n"
     "corners stay. Modes: faces matches the two faces' landmarks (the faces need not be\n"
     "the same person); similar follows the pictures' content (the same object, scene or\n"
     "person moved, turned or deformed); auto (the default) takes faces when each picture\n"
     "holds one face, else similar. --model names the 68-landmark face model (default:\n"
     "$QV_FACE_MODEL, else the one Debian's libdlib-data installs).\n"
     "Remarks (several faces found, the mode auto chose) go to standard error. When\n"
     "nothing can be matched the tool says why, writes nothing and exits with 1.\n",
     RunMatch},
    {"facegrid", "Lay a new grid on the faces of a project's two pictures",
     "Usage: quorvalin-cli facegrid PROJECT.grid OUT.grid [--model FILE]\n"
     "\n"
     "Opens the project like \"render\" does and replaces its grid by one whose rows and\n"
     "columns run through the face's brows, eyes, nose, mouth and jaw: the start points\n"
     "sit on the start face's landmarks, the end points on the matching landmarks of the\n"
     "end face. Saves the result as the project OUT.grid. With several faces in a picture\n"
     "the largest is used (said on standard error). --model as for \"match\". Without a\n"
     "face in either picture the tool says so, writes nothing and exits with 1.\n",
     RunFaceGrid},
};

void PrintToolHelp(std::ostream& s) {
    s << "Usage: " << kTool << " COMMAND [ARGUMENTS]\n\n"
      << "The batch tool of the Quorvalin morphing editor.\n\nCommands:\n";
    for (const TCliCommand& c : kCommands) {
        std::string name(c.Name);
        name.resize(std::max<size_t>(name.size(), 10), ' ');
        s << "  " << name << c.Summary << "\n";
    }
    s << "\nRun '" << kTool << " COMMAND --help' for the arguments of a command,\n"
      << "'" << kTool << " --version' for the version.\n"
      << "Exit status: 0 on success, 1 on failure (the message goes to standard error),\n"
      << "2 on a usage error.\n";
}

bool IsHelp(const std::string& a) { return a == "--help" || a == "-h"; }

}  // namespace

const std::vector<TCliCommand>& CliCommands() { return kCommands; }

TParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string_view>& valueOptions,
                      const std::vector<std::string_view>& flagOptions) {
    TParsedArgs r;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            r.Positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        bool known = false, flag = false;
        for (std::string_view v : valueOptions) known = known || v == name;
        for (std::string_view v : flagOptions) flag = flag || v == name;
        if (flag) {
            if (eq != std::string::npos) throw EUsageError("option " + name + " takes no value");
            r.Options.emplace_back(name, std::string());
            continue;
        }
        if (!known) throw EUsageError("unknown option " + name);
        if (eq != std::string::npos) {
            r.Options.emplace_back(name, a.substr(eq + 1));
        } else {
            if (i + 1 >= args.size()) throw EUsageError("option " + name + " needs a value");
            r.Options.emplace_back(name, args[++i]);
        }
    }
    return r;
}

int32_t ParseIntArg(const std::string& text, int32_t min, int32_t max, std::string_view what) {
    int32_t v = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end || v < min || v > max)
        throw EUsageError(std::string(what) + " must be a whole number from " + std::to_string(min) + " to " +
                          std::to_string(max) + ", not '" + text + "'");
    return v;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        PrintToolHelp(err);
        return ExitUsage;
    }
    if (IsHelp(args[0]) || args[0] == "help") {
        PrintToolHelp(out);
        return ExitSuccess;
    }
    if (args[0] == "--version") {
        out << kTool << " " << ProgramVersion << "\n";
        return ExitSuccess;
    }
    const TCliCommand* command = nullptr;
    for (const TCliCommand& c : kCommands)
        if (c.Name == args[0]) command = &c;
    if (command == nullptr) {
        err << kTool << ": unknown command '" << args[0] << "'\nRun '" << kTool << " --help' for the commands.\n";
        return ExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& a : rest) {
        if (a == "--") break;
        if (IsHelp(a)) {
            out << command->Help;
            return ExitSuccess;
        }
    }
    try {
        command->Run(rest, out);
        return ExitSuccess;
    } catch (const EUsageError& e) {
        err << kTool << " " << command->Name << ": " << e.what() << "\n" << command->Help;
        return ExitUsage;
    } catch (const std::bad_alloc&) {
        err << "Out of memory\n";
    } catch (const std::exception& e) {
        // The same text the editor would show in its message box.
        err << e.what() << "\n";
    }
    return ExitFailure;
}

}  // namespace qv
