// The log: file name beside the executable, removal at start, writing or removal at the end,
// counter-guarded global.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "framework/System.h"
#include "util/Log_.h"

namespace qv {
namespace {

std::string LogName() { return ChangeFileExt(ExecutablePath(), ".txt"); }

void Touch(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

std::string ReadAll(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(Log, FileNameIsTheExecutableWithTxt) {
    TLog log;
    EXPECT_EQ(log.LogFileName, LogName());
    EXPECT_EQ(ExtractFileName(log.LogFileName), "test_util.txt");
    EXPECT_TRUE(log.LogLines.empty());
}

TEST(Log, ConstructionRemovesThePreviousRunsFile) {
    Touch(LogName(), "old run\n");
    TLog log;
    EXPECT_FALSE(FileExists(LogName()));
}

// Each test process removes the executable's log file when it starts, so this test works
// on a file of its own: tests may run in parallel.
TEST(Log, DestructionWritesLinesOrRemovesTheFile) {
    const std::string name = GetTempPath() + "qv_log_test_" + std::to_string(::getpid()) + ".txt";
    {
        TLog log;
        log.LogFileName = name;
        log.LogLines = {"first", "second"};
    }
    EXPECT_EQ(ReadAll(name), "first\nsecond\n");
    {
        TLog log;
        log.LogFileName = name;
    }
    EXPECT_FALSE(FileExists(name));
    {
        TLog log;  // an unwritable place is ignored
        log.LogFileName = GetTempPath() + "no/such/folder/log.txt";
        log.LogLines = {"lost"};
    }
}

TEST(Log, GlobalIsCreatedOnceAndFreedByTheLastFinalisation) {
    ASSERT_NE(Log, nullptr);  // created before the tests started
    TLog* const first = Log.get();
    InitializeLog();
    EXPECT_EQ(Log.get(), first);
    FinalizeLog();
    EXPECT_EQ(Log.get(), first);
    // The unit's own finalisation at exit is the last one; undo it here and redo it.
    FinalizeLog();
    EXPECT_EQ(Log, nullptr);
    InitializeLog();
    EXPECT_NE(Log, nullptr);
}

}  // namespace
}  // namespace qv
