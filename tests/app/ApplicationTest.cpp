// The application object's last-resort guard and the platform hooks.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <memory>

#include "EditorFixture.h"
#include "app/Application.h"
#include "framework/Exceptions.h"
#include "framework/System.h"

namespace qv::test {

namespace {
// An object whose handler fails, as any code Qt calls might.
class TThrowingObject : public QObject {
public:
    int Seen = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) {
            ++Seen;
            throw EReadError("Erreur de lecture du flux");
        }
        return QObject::event(e);
    }
};
}  // namespace

TEST(ApplicationTest, AnExceptionNeverCrossesTheEventLoop)
{
    AppDialogs().Messages.clear();
    TThrowingObject object;
    QEvent direct(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&object, &direct));
    QCoreApplication::postEvent(&object, std::make_unique<QEvent>(QEvent::User).release());  // Qt owns it now
    QCoreApplication::processEvents();
    EXPECT_EQ(object.Seen, 2);
    EXPECT_EQ(AppDialogs().Messages,
              (std::vector<std::string>{"Erreur de lecture du flux", "Erreur de lecture du flux"}));
    AppDialogs().Messages.clear();
}

TEST(ApplicationTest, HooksRouteTheEngineQuestionAndScreenSizeWhileTheyLive)
{
    TFakeDialogs dialogs;
    {
        TPlatformHooks hooks(dialogs);
        dialogs.QuestionAnswer = false;
        EXPECT_FALSE(AskOkCancel("Convert to 8 bits?"));
        EXPECT_EQ(dialogs.Questions, std::vector<std::string>{"Convert to 8 bits?"});
        const QSize screen = QGuiApplication::primaryScreen()->size();
        EXPECT_EQ(ScreenWidth(), screen.width());
        EXPECT_EQ(ScreenHeight(), screen.height());
        MessageBeep();  // reaches Qt; nothing to observe but that it returns
    }
    // Afterwards the quiet default answers OK without asking anybody.
    EXPECT_TRUE(AskOkCancel("again?"));
    EXPECT_EQ(dialogs.Questions.size(), 1u);
}

}  // namespace qv::test
