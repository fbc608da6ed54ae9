#pragma once
// The picture formats' rows of the framework's picture-format list, and the program's
// module start-up and shut-down order. The rows come from the format table.
#include <vector>

#include "imageio/FormatTable.h"

namespace qv {

// The rows a unit registers, in registration order (lookups search newest first).
std::vector<const TFormatRow*> RegistrationRows(TFormatUnit unit);

// Registers the readers' rows; the framework bitmap's own rows (rle, dib) among them.
void RegisterReaders();
// Removes the rows of each reader class (and of classes derived from it); the framework
// bitmap's rows stay.
void UnregisterReaders();
// The JPEG class's rows (jpg, jfif, jpe, jpeg) and the PNG class's row.
void RegisterJPEGImage();
void UnregisterJPEGImage();
void RegisterPNGImage();
void UnregisterPNGImage();

// Module initialisation for programs, before anything else runs: the readers' rows, the
// JPEG rows, the PNG row, then the global log.
void InitializeUnits();
// Module finalisation, after everything else: the log, then the readers', JPEG and PNG rows.
void FinalizeUnits();

}  // namespace qv
