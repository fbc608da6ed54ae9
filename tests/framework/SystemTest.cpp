// Operating-system services: paths, files, ticks, temp folder, hooks, safe file replacement.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"

namespace qv {
namespace {

TEST(SystemPaths, NameFolderAndExtension) {
    EXPECT_EQ(ExtractFileName("dir/a.b.tga"), "a.b.tga");
    EXPECT_EQ(ExtractFileName("a.tga"), "a.tga");
    EXPECT_EQ(ExtractFileName("dir/"), "");
    EXPECT_EQ(ExtractFilePath("dir/sub/a.tga"), "dir/sub/");
    EXPECT_EQ(ExtractFilePath("a.tga"), "");
    EXPECT_EQ(ExtractFileExt("dir/a.b.tga"), ".tga");
    EXPECT_EQ(ExtractFileExt("dir.x/noext"), "");
    EXPECT_EQ(ExtractFileExt("name."), ".");
    EXPECT_EQ(ChangeFileExt("/usr/bin/quorvalin", ".txt"), "/usr/bin/quorvalin.txt");
    EXPECT_EQ(ChangeFileExt("/a.d/prog.exe", ".txt"), "/a.d/prog.txt");
    EXPECT_EQ(ChangeFileExt("x.tga", ""), "x");
    EXPECT_EQ(LowerCase("AbC.TGA-É"), "abc.tga-É");
    EXPECT_EQ(ExpandFileName("/abs/x"), "/abs/x");
    EXPECT_EQ(ExpandFileName("rel/x"), GetCurrentDir() + "/rel/x");
}

TEST(SystemFiles, ExistsAndDelete) {
    const std::string name = GetTempPath() + "qv_sys_exists_" + std::to_string(::getpid());
    EXPECT_FALSE(FileExists(name));
    EXPECT_TRUE(DeleteFile(name));  // nothing there: already gone
    { TFileStream f(name, fmCreate); }
    EXPECT_TRUE(FileExists(name));
    EXPECT_FALSE(FileExists(GetTempPath()));  // a folder is no file
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(DeleteFile(name));
    EXPECT_FALSE(FileExists(name));
}

TEST(SystemFiles, CurrentFolder) {
    const std::string old = GetCurrentDir();
    ASSERT_FALSE(old.empty());
    ASSERT_TRUE(SetCurrentDir("/"));
    EXPECT_EQ(GetCurrentDir(), "/");
    EXPECT_FALSE(SetCurrentDir("/no/such/folder/here"));
    ASSERT_TRUE(SetCurrentDir(old));
}

TEST(SystemClock, TickCountIsMonotonicMillisecondsTruncated) {
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t before = uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
    const uint32_t tick = GetTickCount();
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t after = uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
    // Modulo 2^32 the tick lies between the two readings.
    EXPECT_LE(uint32_t(tick - uint32_t(before)), uint32_t(after - before));
}

TEST(SystemFolders, TempPathFollowsTmpdirWithTrailingSlash) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(GetTempPath(), "/var/tmp/");
    ::setenv("TMPDIR", "/var/tmp/", 1);
    EXPECT_EQ(GetTempPath(), "/var/tmp/");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(GetTempPath(), "/tmp/");
    if (old) ::setenv("TMPDIR", saved.c_str(), 1);
}

TEST(SystemFolders, ExecutablePathIsThisTestProgram) {
    const std::string exe = ExecutablePath();
    EXPECT_EQ(exe.front(), '/');
    EXPECT_EQ(ExtractFileName(exe), "test_framework");
    EXPECT_TRUE(FileExists(exe));
}

TEST(SystemHooks, DefaultsAndReplacements) {
    SetBeepHook(nullptr);
    SetQuestionHook(nullptr);
    EXPECT_NO_THROW(MessageBeep());
    EXPECT_TRUE(AskOkCancel("Convert?"));
    int beeps = 0;
    std::string asked;
    SetBeepHook([&] { ++beeps; });
    SetQuestionHook([&](const std::string& text) {
        asked = text;
        return false;
    });
    MessageBeep();
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(AskOkCancel("Convert to 256 colors?"));
    EXPECT_EQ(asked, "Convert to 256 colors?");
    SetBeepHook(nullptr);
    SetQuestionHook(nullptr);
    EXPECT_TRUE(AskOkCancel("again"));
}

// A fresh folder for one test, removed with everything in it afterwards.
class ReplaceFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qv_replace_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = std::string(tmpl) + "/";
    }
    void TearDown() override {
        for (const std::string& f : Entries()) ::unlink((Dir + f).c_str());
        ::rmdir(Dir.c_str());
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(Dir.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }
    std::string Read(const std::string& name) const {
        TMemoryStream m;
        m.LoadFromFile(name);
        return std::string(m.Data().begin(), m.Data().end());
    }
    std::string Dir;
};

TEST_F(ReplaceFolder, ReplacesTheFileWithTheNewContent) {
    const std::string target = Dir + "out.grid";
    { TFileStream f(target, fmCreate); f.WriteBuffer("old", 3); }
    WriteFileReplacing(target, [](TStream& s) { s.WriteBuffer("new content", 11); });
    EXPECT_EQ(Read(target), "new content");
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.grid"});
}

TEST_F(ReplaceFolder, FailureKeepsTheOldFileAndLeavesNoTemporary) {
    const std::string target = Dir + "out.grid";
    { TFileStream f(target, fmCreate); f.WriteBuffer("old", 3); }
    EXPECT_THROW(WriteFileReplacing(target,
                                    [](TStream& s) {
                                        s.WriteBuffer("partial", 7);
                                        throw EWriteError("disk full");
                                    }),
                 EWriteError);
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.grid"});
    // Also when nothing existed before.
    const std::string fresh = Dir + "fresh.bmp";
    EXPECT_THROW(WriteFileReplacing(fresh, [](TStream&) { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_FALSE(FileExists(fresh));
    EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(ReplaceFolder, ReplacedFileGetsNewFilePermissions) {
    const mode_t oldMask = ::umask(022);
    const std::string target = Dir + "perm.bmp";
    { TFileStream f(target, fmCreate); }
    ::chmod(target.c_str(), 0600);
    WriteFileReplacing(target, [](TStream& s) { s.WriteBuffer("x", 1); });
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ::umask(oldMask);
}

TEST_F(ReplaceFolder, UniqueFilesAreNewAndDistinct) {
    const std::string a = CreateUniqueFile(Dir, "pre", ".tmp");
    const std::string b = CreateUniqueFile(Dir, "pre", ".tmp");
    EXPECT_NE(a, b);
    EXPECT_TRUE(FileExists(a));
    EXPECT_TRUE(FileExists(b));
    EXPECT_EQ(ExtractFilePath(a), Dir);
    EXPECT_EQ(ExtractFileName(a).substr(0, 3), "pre");
    EXPECT_EQ(ExtractFileExt(a), ".tmp");
    EXPECT_THROW(CreateUniqueFile(Dir + "missing/", "p", ".tmp"), EFCreateError);
    EXPECT_THROW(WriteFileReplacing(Dir + "missing/x.grid", [](TStream&) {}), EFCreateError);
}

// The message names the file the user asked for, not the temporary file beside it.
TEST_F(ReplaceFolder, FailureToCreateNamesTheTargetFile) {
    const std::string target = Dir + "missing/x.grid";
    try {
        WriteFileReplacing(target, [](TStream&) {});
        ADD_FAILURE() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + target + "\". No such file or directory");
    }
    // Replacing a folder fails the same way and leaves no temporary file behind.
    ASSERT_EQ(::mkdir((Dir + "sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((Dir + "sub/x.grid").c_str(), 0755), 0);
    try {
        WriteFileReplacing(Dir + "sub/x.grid", [](TStream& s) { s.WriteBuffer("x", 1); });
        ADD_FAILURE() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + Dir + "sub/x.grid\". ", 0), 0u) << e.what();
    }
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(Dir + "sub")) ++entries;
    EXPECT_EQ(entries, 1u);
    ::rmdir((Dir + "sub/x.grid").c_str());
    ::rmdir((Dir + "sub").c_str());
}

}  // namespace
}  // namespace qv
