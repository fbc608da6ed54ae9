#pragma once
// Small string routines on single-byte strings with 1-based positions.
#include <cstdint>
#include <string>

namespace qv {

// Count characters of S from position From (below 1 counts as 1), cut at the end of S;
// empty when S is empty, Count <= 0 or From lies past the end.
std::string SafeCopy(const std::string& S, int32_t From, int32_t Count);
// Position of the N-th occurrence of Sub in S (occurrences may overlap); 0 when there are
// fewer than N, when N <= 0 or when Sub is empty.
int32_t NthPos(const std::string& S, const std::string& Sub, int32_t N);
// The N-th field of S cut at every Sep, counted from 1 (N <= 1: the first field).
std::string GetField(const std::string& S, const std::string& Sep, int32_t N);
// The characters A[0] .. A[High] without the NUL characters, in order.
std::string CharsToStr(const char* A, int32_t High);

}  // namespace qv
