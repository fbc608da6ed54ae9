#pragma once
// Length-prefixed strings on streams: a signed 32-bit little-endian character count, then
// the characters, one byte each, without terminator.
#include <string>

namespace qv {

class TStream;

// Strings of 8192 characters or more are refused (qv::Exception) before anything is written.
void WriteStreamString(TStream& stream, const std::string& S);
// A count below 0 or above 8192 is refused (qv::Exception) after reading the count only.
// Characters missing at the end of the stream are simply absent; zero bytes are dropped.
void ReadStreamString(TStream& stream, std::string& S);

}  // namespace qv
