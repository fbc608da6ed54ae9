#include "framework/Exceptions.h"

#include <cstdarg>
#include <cstdio>

namespace qv {

EReadError::EReadError() : EStreamError("Erreur de lecture du flux") {}
EWriteError::EWriteError() : EStreamError("Erreur d'écriture du flux") {}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        result.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(result.data(), result.size(), fmt, args);
        result.resize(static_cast<size_t>(needed));
    }
    va_end(args);
    return result;
}

}  // namespace qv
