#include "util/Log_.h"

#include <fstream>

#include "framework/System.h"

namespace qv {

std::unique_ptr<TLog> Log;

namespace {
int gLogCounter = 0;
}

TLog::TLog() {
    // No fixed "C:" disk exists here: the log lives beside the executable.
    // Without a known executable there is no log file: never guess a name to delete.
    const std::string exe = ExecutablePath();
    if (!exe.empty()) LogFileName = ChangeFileExt(exe, ".txt");
    if (!LogFileName.empty() && FileExists(LogFileName)) DeleteFile(LogFileName);
}

TLog::~TLog() {
    try {
        if (LogFileName.empty()) return;
        if (!LogLines.empty()) {
            std::ofstream out(LogFileName, std::ios::binary | std::ios::trunc);
            for (const std::string& line : LogLines) out << line << '\n';
        } else if (FileExists(LogFileName)) {
            DeleteFile(LogFileName);
        }
    } catch (...) {
        // A log that cannot be written must not stop the program from ending.
    }
}

void InitializeLog() {
    if (gLogCounter-- == 0) Log = std::make_unique<TLog>();
}

void FinalizeLog() {
    if (++gLogCounter == 0) Log.reset();
}

namespace {
// Module initialisation and finalisation; defined after Log so it is built after it and
// destroyed before it.
struct TLogUnit {
    TLogUnit() { InitializeLog(); }
    ~TLogUnit() { FinalizeLog(); }
} gLogUnit;
}  // namespace

}  // namespace qv
