#include "util/Str_.h"

namespace qv {

std::string SafeCopy(const std::string& S, int32_t From, int32_t Count) {
    const int64_t len = static_cast<int64_t>(S.size());
    if (S.empty() || Count <= 0 || len < From) return std::string();
    const int64_t start = From < 1 ? 1 : From;
    return S.substr(static_cast<size_t>(start - 1), static_cast<size_t>(Count));
}

int32_t NthPos(const std::string& S, const std::string& Sub, int32_t N) {
    if (N <= 0 || Sub.empty()) return 0;
    size_t from = 0;
    size_t found = std::string::npos;
    for (int32_t k = 0; k < N; ++k) {
        found = S.find(Sub, from);
        if (found == std::string::npos) return 0;
        from = found + 1;  // the next occurrence may overlap this one
    }
    return static_cast<int32_t>(found + 1);
}

std::string GetField(const std::string& S, const std::string& Sep, int32_t N) {
    int64_t start = 1;
    if (N >= 2) {
        const int32_t p = NthPos(S, Sep, N - 1);
        if (p == 0) return std::string();
        start = int64_t(p) + static_cast<int64_t>(Sep.size());
    }
    int64_t stop = int64_t(NthPos(S, Sep, N)) - 1;
    if (stop == -1) stop = static_cast<int64_t>(S.size());
    const int64_t count = stop - start + 1;
    if (count <= 0 || start > static_cast<int64_t>(S.size())) return std::string();
    return SafeCopy(S, static_cast<int32_t>(start), static_cast<int32_t>(count));
}

std::string CharsToStr(const char* A, int32_t High) {
    std::string result;
    for (int32_t i = 0; i <= High; ++i)
        if (A[i] != '\0') result += A[i];
    return result;
}

}  // namespace qv
