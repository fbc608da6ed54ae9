// quorvalin: the image-morphing editor. quorvalin [PROJECT.grid] opens that project at start.
#include <QFile>
#include <QStringList>

#include "app/Application.h"
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
    TUnits units;
    qv::TQtDialogs dialogs;
    qv::TApplication application(argc, argv, dialogs);
    QApplication::setApplicationName("Quorvalin");
    qv::TPlatformHooks hooks(dialogs);
    qv::TEditor editor(dialogs);
    editor.Show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1)
        editor.OpenProject(QFile::encodeName(arguments.at(1)).toStdString());
    return QApplication::exec();
}
