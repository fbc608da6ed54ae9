#include "framework/System.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

#include "framework/Exceptions.h"
#include "framework/Stream.h"

namespace qv {

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DeleteFile(const std::string& fileName) {
    if (::unlink(fileName.c_str()) == 0) return true;
    return errno == ENOENT;
}

std::string ExtractFileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFilePath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Index of the extension's dot within the path, npos when the name has none.
static size_t ExtDot(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string::npos;
    return dot;
}

std::string ExtractFileExt(const std::string& path) {
    const size_t dot = ExtDot(path);
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const size_t dot = ExtDot(path);
    return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

std::string ExpandFileName(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string dir = GetCurrentDir();
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir + path;
}

std::string LowerCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string GetCurrentDir() {
    std::string buf(PATH_MAX, '\0');
    if (::getcwd(buf.data(), buf.size()) == nullptr) return std::string();
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

bool SetCurrentDir(const std::string& dir) { return ::chdir(dir.c_str()) == 0; }

uint32_t GetTickCount() {
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

std::string GetTempPath() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env != nullptr && *env != '\0') ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string ExecutablePath() {
    std::string buf(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    buf.resize(static_cast<size_t>(n));
    return buf;
}

// ---------------------------------------------------------------- hooks

namespace {
std::function<void()>& BeepHook() {
    static std::function<void()> hook;
    return hook;
}
std::function<bool(const std::string&)>& QuestionHook() {
    static std::function<bool(const std::string&)> hook;
    return hook;
}
int gScreenWidth = 640;
int gScreenHeight = 480;
}  // namespace

void MessageBeep() {
    if (BeepHook()) BeepHook()();
}
void SetBeepHook(std::function<void()> hook) { BeepHook() = std::move(hook); }

bool AskOkCancel(const std::string& text) {
    if (QuestionHook()) return QuestionHook()(text);
    return true;
}
void SetQuestionHook(std::function<bool(const std::string&)> hook) { QuestionHook() = std::move(hook); }

int ScreenWidth() { return gScreenWidth; }
int ScreenHeight() { return gScreenHeight; }
void SetScreenSize(int width, int height) {
    gScreenWidth = width;
    gScreenHeight = height;
}

// ---------------------------------------------------------------- files

namespace {

// Creates a new, empty file named folder + prefix + a unique tag + suffix and puts its name
// in name. Returns 0, or the errno of the failure.
int TryCreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                        std::string& name) {
    static std::atomic<uint32_t> counter{0};
    std::random_device rd;
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char tag[32];
        std::snprintf(tag, sizeof tag, "%x%04x%08x", static_cast<unsigned>(::getpid()),
                      static_cast<unsigned>(counter++ & 0xFFFF), static_cast<unsigned>(rd()));
        name = dir + prefix + tag + suffix;
        // 0666 so that the umask decides, as for any new file of the program.
        const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return 0;
        }
        lastError = errno;
        if (lastError != EEXIST) break;
    }
    return lastError;
}

std::string FolderWithSlash(const std::string& folder) {
    std::string dir = folder.empty() ? std::string("./") : folder;
    if (dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace

std::string CreateUniqueFile(const std::string& folder, const std::string& prefix, const std::string& suffix) {
    const std::string dir = FolderWithSlash(folder);
    std::string name;
    if (const int error = TryCreateUniqueFile(dir, prefix, suffix, name); error != 0)
        throw EFCreateError(Format("Cannot create a temporary file in \"%s\". %s", dir.c_str(), std::strerror(error)));
    return name;
}

bool SyncBeforeReplacing(const std::string& fileName, TSync sync) {
    struct stat existing {};
    return sync == TSync::Always || ::lstat(fileName.c_str(), &existing) == 0;
}

void WriteFileReplacing(const std::string& fileName, const std::function<void(TStream&)>& writer, TSync sync) {
    // The new file is made beside the target; when that fails the user hears about the
    // file they asked for, not about the temporary one.
    std::string temp;
    if (const int error = TryCreateUniqueFile(FolderWithSlash(ExtractFilePath(fileName)),
                                              "." + ExtractFileName(fileName) + ".", ".tmp", temp);
        error != 0)
        throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(error)));
    try {
        {
            TFileStream stream(temp, fmOpenReadWrite);
            const bool flush = SyncBeforeReplacing(fileName, sync);
            stream.SetWriteBehind(flush);
            writer(stream);
            if (flush) stream.Flush();
        }
        if (::rename(temp.c_str(), fileName.c_str()) != 0)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

}  // namespace qv
