#include "app/Application.h"

#include <QScreen>

#include "app/ErrorGuard.h"
#include "framework/System.h"

namespace qv {

TApplication::TApplication(int& argc, char** argv, IDialogs& dialogs)
    : QApplication(argc, argv), FDialogs(&dialogs)
{
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowError(*FDialogs, std::current_exception());
        return false;
    }
}

TPlatformHooks::TPlatformHooks(IDialogs& dialogs)
{
    SetBeepHook([] { QApplication::beep(); });
    SetQuestionHook([&dialogs](const std::string& text) { return dialogs.AskOkCancel(text); });
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        SetScreenSize(screen->size().width(), screen->size().height());
}

TPlatformHooks::~TPlatformHooks()
{
    SetBeepHook([] {});
    SetQuestionHook([](const std::string&) { return true; });
}

}  // namespace qv
