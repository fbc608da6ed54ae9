#pragma once
// Every failure in Quorvalin is an exception derived from qv::Exception that carries
// the text shown to the user.
#include <stdexcept>
#include <string>

namespace qv {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// Stream failures.
class EStreamError : public Exception { using Exception::Exception; };
class EReadError : public EStreamError {
public:
    EReadError();  // "Erreur de lecture du flux"
    explicit EReadError(const std::string& message) : EStreamError(message) {}
};
class EWriteError : public EStreamError {
public:
    EWriteError();
    explicit EWriteError(const std::string& message) : EStreamError(message) {}
};
class EFOpenError : public EStreamError { using EStreamError::EStreamError; };
class EFCreateError : public EStreamError { using EStreamError::EStreamError; };

// A value that cannot be converted (bad number text, bad pixel format request).
class EConvertError : public Exception { using Exception::Exception; };
// A picture file that cannot be decoded, or a picture type nobody registered.
class EInvalidGraphic : public Exception { using Exception::Exception; };
// An operation on a picture that its state does not allow (scan line out of range ...).
class EInvalidGraphicOperation : public Exception { using Exception::Exception; };

// Builds a message with printf-style formatting; used for the texts with parameters.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qv
