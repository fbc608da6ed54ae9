// The editor's tests need one QApplication for the whole run, on the offscreen platform
// unless the caller chose another, and the program's units initialised as at start-up.
#include <gtest/gtest.h>

#include "EditorFixture.h"
#include "app/Application.h"

#include "imageio/Registration.h"

namespace {
// The offscreen platform reports every window feature it lacks; those lines say nothing
// about the editor.
QtMessageHandler previousHandler = nullptr;
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith("This plugin does not support"))
        return;
    previousHandler(type, context, message);
}
}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    previousHandler = qInstallMessageHandler(QuietHandler);
    ::testing::InitGoogleTest(&argc, argv);
    qv::InitializeUnits();
    int result = 0;
    {
        qv::TApplication application(argc, argv, qv::test::AppDialogs());
        result = RUN_ALL_TESTS();
    }
    qv::FinalizeUnits();
    return result;
}
