// The editor's tests need one QApplication for the whole run, on the offscreen platform
// unless the caller chose another, and the program's units initialised as at start-up.
#include <gtest/gtest.h>

#include "EditorFixture.h"
#include "app/Application.h"
#include "app/Settings.h"

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
    // The editor's settings go to a folder of this run, never to the user's.
    const std::string settingsDir = qv::test::UniqueTempDir();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(settingsDir));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(settingsDir));
    previousHandler = qInstallMessageHandler(QuietHandler);
    ::testing::InitGoogleTest(&argc, argv);
    qv::InitializeUnits();
    int result = 0;
    {
        qv::TApplication application(argc, argv, qv::test::AppDialogs());
        result = RUN_ALL_TESTS();
    }
    qv::FinalizeUnits();
    std::error_code ignored;
    std::filesystem::remove_all(settingsDir, ignored);
    return result;
}
