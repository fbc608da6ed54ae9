#pragma once
// The application object and the platform services the engine reaches through hooks.
#include <QApplication>

#include "app/Dialogs.h"

namespace qv {

// Every handler of the editor has its own error guard. This last one only makes sure that
// an exception thrown from any other code Qt calls never unwinds through the event loop:
// it is shown like any other error and the program goes on.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv, IDialogs& dialogs);
    bool notify(QObject* receiver, QEvent* event) override;
    void SetDialogs(IDialogs& dialogs) { FDialogs = &dialogs; }

private:
    IDialogs* FDialogs;
};

// While it lives, the engine's beep is Qt's, its OK/Cancel question goes to the dialogs,
// and the screen size is the primary screen's. Afterwards the quiet defaults return
// (no beep, OK).
class TPlatformHooks {
public:
    explicit TPlatformHooks(IDialogs& dialogs);
    ~TPlatformHooks();
    TPlatformHooks(const TPlatformHooks&) = delete;
    TPlatformHooks& operator=(const TPlatformHooks&) = delete;
};

}  // namespace qv
