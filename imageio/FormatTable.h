#pragma once
// The one table of picture formats. The picture-format list's rows (registered at start-up
// and removed at shut-down), TGenericGraphic's extension table, the picture dialogs'
// filters (through the picture-format list) and the check that refuses saving in a format
// that is only read all come from it.
#include <span>
#include <string_view>

#include "framework/Graphics.h"

namespace qv {

// Who puts a row into the picture-format list: the readers' module, the JPEG class, the
// PNG class; or nobody (the row is only TGenericGraphic's).
enum class TFormatUnit { Readers, JPEG, PNG, GenericOnly };

struct TFormatRow {
    const char* Extension;    // lower case, no dot
    const char* Description;  // shown in the picture dialogs
    const TBitmapClass* Class;
    TFormatUnit Unit;
    bool Generic;   // a row of TGenericGraphic's extension table
    bool CanWrite;  // the class writes this format itself; otherwise saving is refused
};

// Every row. Within a unit, the rows are in registration order; TGenericGraphic searches
// its rows in table order.
std::span<const TFormatRow> FormatTable();

// The class with that exact name among the table's classes, or null.
const TBitmapClass* FindFormatClass(std::string_view className);

}  // namespace qv
