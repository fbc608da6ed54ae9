// quorvalin: the image-morphing editor. quorvalin [PROJECT.grid] opens that project at start.
#include <iostream>

#include <QFile>
#include <QStringList>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Editor.h"
#include "app/QtDialogs.h"
#include "imageio/Registration.h"

namespace {

// Module initialisation before anything else, finalisation after everything else.
struct TUnits {
    TUnits() { qv::InitializeUnits(); }
    ~TUnits() { qv::FinalizeUnits(); }
    TUnits(const TUnits&) = delete;
    TUnits& operator=(const TUnits&) = delete;
};

}  // namespace

int main(int argc, char** argv)
{
    // Before the application object, which needs a display.
    if (const std::optional<int> code = qv::AnswerInfoOptions(argc, argv, std::cout)) return *code;
    TUnits units;
    qv::TQtDialogs dialogs;
    qv::TApplication application(argc, argv, dialogs);
    QApplication::setApplicationName("Quorvalin");
    qv::SetProgramIdentity();
    qv::TPlatformHooks hooks(dialogs);
    qv::TEditor editor(dialogs);
    editor.Show();
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!arguments.isEmpty() && arguments.first() == "--") arguments.removeFirst();
    if (!arguments.isEmpty())
        editor.OpenProject(QFile::encodeName(arguments.first()).toStdString());
    return QApplication::exec();
}
