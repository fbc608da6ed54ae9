#pragma once
// The picture readers' rows of the framework's picture-format list, and the program's
// module start-up and shut-down order.
#include <array>

namespace qv {

struct TReaderRegistration {
    const char* Extension;    // lower case, no dot
    const char* Description;  // shown in the picture dialogs
    const char* ClassName;    // looked up with FindReaderClass
};

// Registration order matters: lookups search newest first.
extern const std::array<TReaderRegistration, 28> ReaderRegistrations;
// The classes whose rows UnregisterReaders removes, in that order.
extern const std::array<const char*, 11> ReaderUnregistrationOrder;
// The JPEG class's own rows ("jpeg", "jpg").
extern const std::array<TReaderRegistration, 2> JPEGRegistrations;

// Registers every row of ReaderRegistrations, in order, whose class this program has.
void RegisterReaders();
// Removes the rows of each class of ReaderUnregistrationOrder (and of classes derived from
// it); the framework bitmap's own rows (rle, dib) stay.
void UnregisterReaders();
// The JPEG class's registration and unregistration, when the class exists.
void RegisterJPEGImage();
void UnregisterJPEGImage();

// Module initialisation for programs, before anything else runs: the readers' rows, the
// JPEG rows, then the global log.
void InitializeUnits();
// Module finalisation, after everything else: the log, then the readers' and the JPEG
// rows.
void FinalizeUnits();

}  // namespace qv
