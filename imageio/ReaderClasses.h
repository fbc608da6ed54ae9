#pragma once
// The catalogue of raster classes by class name, for the format tables that name their
// reader classes (the start-up registration, the extension table of the generic picture).
#include <string_view>

#include "framework/Graphics.h"

namespace qv {

// The class with that exact name, or null when this program has no such class (yet).
const TBitmapClass* FindReaderClass(std::string_view className);

}  // namespace qv
