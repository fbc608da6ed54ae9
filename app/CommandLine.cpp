#include "app/CommandLine.h"

#include <QApplication>
#include <QString>
#include <ostream>
#include <string_view>

#include "app/FAbout.h"
#include "qv/Version.h"

namespace qv {

namespace {

void PrintHelp(std::ostream& out)
{
    out << "Usage: quorvalin [OPTION]... [PROJECT.grid]\n"
           "\n"
           "The Quorvalin image-morphing editor: lay a grid of control points over a start\n"
           "picture and an end picture, and get every in-between picture, previewed live,\n"
           "saved as a picture or exported as a movie.\n"
           "\n"
           "PROJECT.grid, when given, is opened at start.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "  --version      show the version and exit\n"
           "\n"
           "Qt's own options (such as -platform NAME or -style NAME) are accepted too.\n"
           "Projects are rendered without a display by the batch tool: quorvalin-cli --help.\n";
}

}  // namespace

std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::ostream& out)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--") break;  // what follows is a file name, however it looks
        if (a == "--help" || a == "-h") {
            PrintHelp(out);
            return 0;
        }
        if (a == "--version") {
            out << "quorvalin " << ProgramVersion << "\n";
            return 0;
        }
    }
    return std::nullopt;
}

void SetProgramIdentity()
{
    QApplication::setApplicationVersion(QString::fromUtf8(ProgramVersion.data(), ProgramVersion.size()));
    // Lets the desktop (Wayland in particular) match the windows to the installed entry and icon.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(ApplicationId.data(), ApplicationId.size()));
    QApplication::setWindowIcon(ProgramIcon());
}

}  // namespace qv
