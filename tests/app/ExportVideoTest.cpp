// File > Export video...: the settings dialog, the save dialog through the seam, the export
// under a progress dialog, and Cancel leaving nothing behind.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QSpinBox>

#include "EditorFixture.h"
#include "app/ExportVideoDialog.h"
#include "framework/Stream.h"

namespace qv::test {
namespace {

std::string ReadAll(const std::string& path)
{
    TFileStream s(path, fmOpenRead);
    std::string bytes(size_t(s.Size()), '\0');
    s.ReadBuffer(bytes.data(), s.Size());
    return bytes;
}

void WriteAll(const std::string& path, const std::string& bytes)
{
    TFileStream s(path, fmCreate);
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

class ExportVideoTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        OpenStart(MakePicture("s.bmp", 61, 45, 1));
        OpenEnd(MakePicture("e.bmp", 61, 45, 2));
    }
    // The names in the test's folder, sorted.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ExportVideoTest, MenuDialogAndSaveWriteTheChosenMovie)
{
    // The settings dialog is answered as a user would: GIF (no quality, no sound), 400 ms at
    // 10 frames per second, there and back.
    bool sawDialog = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<TExportVideoDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        sawDialog = true;
        EXPECT_EQ(dialog->SeDuration->value(), SeDuration()->value());
        EXPECT_TRUE(dialog->SeQuality->isEnabled());
        EXPECT_EQ(dialog->SeQuality->value(), 18);  // MP4's default
        dialog->CbFormat->setCurrentIndex(2);
        EXPECT_FALSE(dialog->SeQuality->isEnabled());
        EXPECT_FALSE(dialog->EdSound->isEnabled());
        dialog->SeDuration->setValue(400);
        dialog->SeFps->setValue(10);
        dialog->CbPingPong->setChecked(true);
        dialog->accept();
    });
    Dialogs.Answers.push_back(PathOf("loop"));  // the extension comes from the format
    Act("Exportvideo1")->trigger();
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(Dialogs.Asked, (std::vector<std::string>{"OpenPictureDialog1", "OpenPictureDialog1", "SaveVideoDialog"}));
    EXPECT_TRUE(Dialogs.Messages.empty()) << Dialogs.Messages.front();
    const std::string gif = ReadAll(PathOf("loop.gif"));
    EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    EXPECT_EQ(Files(), (std::vector<std::string>{"e.bmp", "loop.gif", "s.bmp"}));
}

TEST_F(ExportVideoTest, CancelStopsAndKeepsTheOldFile)
{
    const std::string target = PathOf("keep.mp4");
    WriteAll(target, "old");
    int progressShown = 0;
    // Cancel is pressed as soon as the progress dialog handles its first events.
    QTimer::singleShot(0, [&] {
        if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
            ++progressShown;
            progress->cancel();
        }
    });
    TVideoSettings settings;
    settings.DurationMs = 10000;  // 250 frames: far more than a cancel lets through
    EXPECT_FALSE(ExportVideoWithProgress(&Main(), Grid(), settings, target));
    EXPECT_EQ(progressShown, 1);
    EXPECT_EQ(ReadAll(target), "old");
    EXPECT_EQ(Files(), (std::vector<std::string>{"e.bmp", "keep.mp4", "s.bmp"}));
}

}  // namespace
}  // namespace qv::test
