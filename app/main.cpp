// quorvalin: the image-morphing editor. No command-line options, no settings: every start
// begins in the same state.
#include <QApplication>
#include <QScreen>
#include <cstdio>

#include "app/Editor.h"
#include "app/ErrorGuard.h"
#include "app/QtDialogs.h"
#include "framework/System.h"
#include "imageio/Registration.h"

namespace {

// Module initialisation before anything else, finalisation after everything else.
struct TUnits {
    TUnits() { qv::InitializeUnits(); }
    ~TUnits() { qv::FinalizeUnits(); }
    TUnits(const TUnits&) = delete;
    TUnits& operator=(const TUnits&) = delete;
};

// Every handler has its own guard; this one only makes sure that an exception from Qt's
// own code paths never unwinds through the event loop.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv, qv::IDialogs& dialogs) : QApplication(argc, argv), FDialogs(dialogs) {}
    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            qv::ShowError(FDialogs, std::current_exception());
            return false;
        }
    }

private:
    qv::IDialogs& FDialogs;
};

// The engine's beep and question go to Qt while the application lives.
struct THooks {
    explicit THooks(qv::IDialogs& dialogs)
    {
        qv::SetBeepHook([] { QApplication::beep(); });
        qv::SetQuestionHook([&dialogs](const std::string& text) { return dialogs.AskOkCancel(text); });
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            qv::SetScreenSize(screen->size().width(), screen->size().height());
    }
    ~THooks()
    {
        qv::SetBeepHook([] {});
        qv::SetQuestionHook([](const std::string&) { return true; });
    }
    THooks(const THooks&) = delete;
    THooks& operator=(const THooks&) = delete;
};

}  // namespace

int main(int argc, char** argv)
{
    TUnits units;
    qv::TQtDialogs dialogs;
    TApplication application(argc, argv, dialogs);
    QApplication::setApplicationName("Quorvalin");
    THooks hooks(dialogs);
    qv::TEditor editor(dialogs);
    editor.Show();
    return QApplication::exec();
}
