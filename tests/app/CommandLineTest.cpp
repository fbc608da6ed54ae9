// The editor's --help and --version, answered before any window exists, and its icon.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/FAbout.h"
#include "qv/Version.h"

namespace qv {
namespace {

TEST(EditorCommandLine, AnswersHelpAndVersionAndLeavesTheRestAlone)
{
    struct Case {
        std::vector<const char*> Args;
        std::optional<int> Code;
        std::string Starts;  // the start of what it prints
    };
    const std::string version = "quorvalin " + std::string(ProgramVersion) + "\n";
    const Case cases[] = {
        {{"quorvalin"}, std::nullopt, ""},
        {{"quorvalin", "faces.grid"}, std::nullopt, ""},
        {{"quorvalin", "-platform", "offscreen"}, std::nullopt, ""},
        {{"quorvalin", "--version"}, 0, version},
        {{"quorvalin", "faces.grid", "--version"}, 0, version},
        {{"quorvalin", "--help", "--version"}, 0, "Usage: quorvalin "},
        {{"quorvalin", "-h"}, 0, "Usage: quorvalin "},
        // After "--" a file may be called anything.
        {{"quorvalin", "--", "--help"}, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        const std::optional<int> code = AnswerInfoOptions(int(c.Args.size()), c.Args.data(), out);
        EXPECT_EQ(code, c.Code) << c.Args.back();
        EXPECT_EQ(out.str().substr(0, c.Starts.size()), c.Starts) << c.Args.back();
        if (!c.Code) {
            EXPECT_TRUE(out.str().empty()) << c.Args.back();
        }
    }
}

TEST(EditorIcon, ComesInEverySizeTheDesktopAsksFor)
{
    const QIcon icon = ProgramIcon();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QPixmap pixmap = icon.pixmap(size, size);
        ASSERT_FALSE(pixmap.isNull()) << size;
        EXPECT_EQ(pixmap.size(), QSize(size, size));
        // The picture itself, not an empty pixmap: the tile's rounded corner is
        // see-through, its middle is not.
        const QImage image = pixmap.toImage();
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
    }
    EXPECT_EQ(icon.availableSizes().size(), 8);
}

}  // namespace
}  // namespace qv
