#pragma once
// The RIFF writer: a planned movie (AviLayout.h) written front to back into a stream.
#include "video/AviLayout.h"

namespace qv::avi {

// Thrown when the progress callback asks to stop.
struct TUserAbort {};

// Writes the movie; the sample bytes come from the streams' backing files. A layout that
// does not match the bytes written raises std::logic_error (a bug, not bad input).
void WriteRiffMovie(TStream& target, const TLayout& layout, AVISAVECALLBACK progress);

}  // namespace qv::avi
