#pragma once
// The program's text log: lines collected in memory and written to the log file when the
// log is destroyed. Each run starts by removing the previous run's file.
#include <memory>
#include <string>
#include <vector>

namespace qv {

class TLog {
public:
    TLog();
    ~TLog();
    TLog(const TLog&) = delete;
    TLog& operator=(const TLog&) = delete;

    // The executable's path with ".txt" for its extension.
    std::string LogFileName;
    std::vector<std::string> LogLines;
};

// The one log of the program, alive from start-up to exit.
extern std::unique_ptr<TLog> Log;

// Counter-guarded: however many modules call them, the first InitializeLog creates Log
// and the matching last FinalizeLog frees it. The unit calls them itself at start and exit.
void InitializeLog();
void FinalizeLog();

}  // namespace qv
