#pragma once
// Small services of the operating system, in the shape the rest of the program expects.
#include <cstdint>
#include <functional>
#include <string>

namespace qv {

class TStream;

bool FileExists(const std::string& fileName);  // a regular file (or link to one)
bool DeleteFile(const std::string& fileName);  // true when the file is gone
// Path operations on '/'-separated paths.
std::string ExtractFileName(const std::string& path);   // "dir/a.b.tga" -> "a.b.tga"
std::string ExtractFilePath(const std::string& path);   // "dir/a.tga" -> "dir/"
std::string ExtractFileExt(const std::string& path);    // from the last dot of the name, dot included
std::string ChangeFileExt(const std::string& path, const std::string& ext);  // ext with its dot
std::string ExpandFileName(const std::string& path);    // absolute, relative to the current folder
std::string LowerCase(const std::string& s);            // ASCII letters only
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& dir);
// The platform's millisecond tick counter: wraps around every 49.7 days.
uint32_t GetTickCount();
// The system's folder for temporary files, with a trailing '/'.
std::string GetTempPath();
// Full path of the running executable.
std::string ExecutablePath();

// Hooks the application replaces: the engine never opens a window itself.
// MessageBeep: a short warning sound. Default: nothing.
void MessageBeep();
void SetBeepHook(std::function<void()> hook);
// AskOkCancel: a warning question with OK and Cancel; true for OK. Default: OK.
bool AskOkCancel(const std::string& text);
void SetQuestionHook(std::function<bool(const std::string&)> hook);

// Primary screen size in pixels; 640 x 480 until the application sets its own.
int ScreenWidth();
int ScreenHeight();
void SetScreenSize(int width, int height);

// When a save waits for its data to reach the disk (before the new file takes the name).
enum class TSync {
    Always,         // the user's own work (projects): after a crash the file is whole
    WhenReplacing,  // what is made from that work (pictures, movies): only when an existing
                    // file is replaced, whose old content must not be lost to a crash; a new
                    // name has nothing to lose, and the wait costs more than a render
};

// Whether a save under that rule waits for the disk before the new file takes fileName.
bool SyncBeforeReplacing(const std::string& fileName, TSync sync);

// Writes a file so that an existing file of that name is replaced only by a complete new
// one: writer fills a fresh file beside the target, which then takes the target's name.
// On any failure the temporary file is removed, the old file stays as it was, and the
// exception reaches the caller.
void WriteFileReplacing(const std::string& fileName, const std::function<void(TStream&)>& writer,
                        TSync sync = TSync::Always);

// Creates a new, empty file with a unique name in folder (O_EXCL) from a prefix and suffix,
// and returns its path. Throws EFCreateError.
std::string CreateUniqueFile(const std::string& folder, const std::string& prefix,
                             const std::string& suffix);

}  // namespace qv
