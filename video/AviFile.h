#pragma once
// Our own movie-file services, with the calls and result codes of the platform's AVIFile
// interface: a work file that collects uncompressed samples, WAV files opened as audio
// sources, and the save of one or more streams into a standard RIFF AVI file that real
// players read (with the OpenDML extension once a movie outgrows one RIFF segment).
//
// Files and streams are reference-counted objects behind opaque handles; every call
// checks its handles and never throws: failures come back as the result codes below.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace qv {

class TStream;

using HRESULT = int32_t;

// Result codes, with the platform's values so that callers' message tables apply.
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT REGDB_E_CLASSNOTREG = HRESULT(0x80040154u);
constexpr HRESULT AVIERR_UNSUPPORTED = HRESULT(0x80044065u);
constexpr HRESULT AVIERR_BADFORMAT = HRESULT(0x80044066u);
constexpr HRESULT AVIERR_MEMORY = HRESULT(0x80044067u);
constexpr HRESULT AVIERR_INTERNAL = HRESULT(0x80044068u);
constexpr HRESULT AVIERR_BADFLAGS = HRESULT(0x80044069u);
constexpr HRESULT AVIERR_BADPARAM = HRESULT(0x8004406Au);
constexpr HRESULT AVIERR_BADSIZE = HRESULT(0x8004406Bu);
constexpr HRESULT AVIERR_BADHANDLE = HRESULT(0x8004406Cu);
constexpr HRESULT AVIERR_FILEREAD = HRESULT(0x8004406Du);
constexpr HRESULT AVIERR_FILEWRITE = HRESULT(0x8004406Eu);
constexpr HRESULT AVIERR_FILEOPEN = HRESULT(0x8004406Fu);
constexpr HRESULT AVIERR_READONLY = HRESULT(0x80044072u);
constexpr HRESULT AVIERR_NODATA = HRESULT(0x80044073u);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = HRESULT(0x80044074u);
constexpr HRESULT AVIERR_USERABORT = HRESULT(0x800440C6u);
constexpr HRESULT AVIERR_ERROR = HRESULT(0x800440C7u);

// Open modes. Share modes are accepted and ignored (files here are private to one call).
constexpr uint32_t OF_READ = 0x0000;
constexpr uint32_t OF_WRITE = 0x0001;
constexpr uint32_t OF_READWRITE = 0x0002;
constexpr uint32_t OF_SHARE_DENY_WRITE = 0x0010;
constexpr uint32_t OF_SHARE_DENY_NONE = 0x0040;
constexpr uint32_t OF_CREATE = 0x1000;

// Sample flag: the sample can be decoded on its own.
constexpr uint32_t AVIIF_KEYFRAME = 0x10;

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}
constexpr uint32_t streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');
constexpr uint32_t streamtypeAUDIO = MakeFourCC('a', 'u', 'd', 's');

// Stream information, field for field as the platform declares it (140 bytes).
struct AVISTREAMINFOA {
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwFlags;
    uint32_t dwCaps;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwScale;
    uint32_t dwRate;  // dwRate / dwScale = samples per second
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwInitialFrames;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;  // 0: one sample per chunk of any size
    TRect rcFrame;
    uint32_t dwEditCount;
    uint32_t dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140);

// The 40-byte device-independent bitmap header.
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // positive: bottom row first
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
constexpr uint32_t BI_RGB = 0;

// Opaque handles.
struct TAviFileObject;
struct TAviStreamObject;
using PAVIFILE = TAviFileObject*;
using PAVISTREAM = TAviStreamObject*;

// Compression options: only "none" (null pointers, streams saved as they are) exists here.
struct AVICOMPRESSOPTIONS;
// Progress of AVISaveV in percent; a non-zero return cancels the save.
using AVISAVECALLBACK = int (*)(int percent);

// Each AVIFileInit pairs with one AVIFileExit; the last AVIFileExit frees whatever handles
// are still open.
void AVIFileInit();
void AVIFileExit();

// Mode OF_CREATE (with OF_WRITE): a new work file at that path (created or emptied) that
// collects the samples written to its streams; it holds raw samples, not a movie.
// Mode OF_READ: a WAV file (".wav" names only), offered as one audio stream.
// Results: REGDB_E_CLASSNOTREG for other names, AVIERR_FILEOPEN when the file cannot be
// opened, AVIERR_FILEREAD on a read failure, AVIERR_BADFORMAT when it is not a usable WAV.
HRESULT AVIFileOpenA(PAVIFILE* ppfile, const char* szFile, uint32_t uMode, const void* lpHandler);
// Returns the reference count left; 0 for a handle that is not open.
int32_t AVIFileRelease(PAVIFILE pfile);
int32_t AVIFileAddRef(PAVIFILE pfile);
// Adds a stream to a work file. dwScale and dwRate must be non-zero.
HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi);
// fccType 0 takes the lParam-th stream of any type, else the lParam-th of that type.
HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, uint32_t fccType, int32_t lParam);

// The format is set once, at position 0; a video format must be a BITMAPINFOHEADER.
HRESULT AVIStreamSetFormat(PAVISTREAM pavi, int32_t lPos, const void* lpFormat, int32_t cbFormat);
// Appends samples (lStart = the stream's length, or -1). Streams with dwSampleSize 0 take
// one sample per call; the others take lSamples x dwSampleSize bytes.
HRESULT AVIStreamWrite(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, const void* lpBuffer,
                       int32_t cbBuffer, uint32_t dwFlags, int32_t* plSampWritten,
                       int32_t* plBytesWritten);
// Reads samples lStart .. lStart + lSamples - 1 (one sample for dwSampleSize 0 streams).
// A null buffer only reports the sizes.
HRESULT AVIStreamRead(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, void* lpBuffer,
                      int32_t cbBuffer, int32_t* plBytes, int32_t* plSamples);
HRESULT AVIStreamInfoA(PAVISTREAM pavi, AVISTREAMINFOA* psi, int32_t lSize);
// A null lpFormat only reports the size in *lpcbFormat.
HRESULT AVIStreamReadFormat(PAVISTREAM pavi, int32_t lPos, void* lpFormat, int32_t* lpcbFormat);
int32_t AVIStreamLength(PAVISTREAM pavi);
int32_t AVIStreamRelease(PAVISTREAM pavi);
int32_t AVIStreamAddRef(PAVISTREAM pavi);
// An editable copy of a stream as it stands: its information, format and samples.
HRESULT CreateEditableStream(PAVISTREAM* ppsEditable, PAVISTREAM psSource);

// Writes the streams, in the given order, into the file szFile. The target replaces an
// existing file of that name only once it is complete. Handler and options must be null
// (uncompressed); streams are video ("vids", one sample per chunk) or audio ("auds").
HRESULT AVISaveV(const char* szFile, const void* pclsidHandler, AVISAVECALLBACK lpfnCallback,
                 int nStreams, PAVISTREAM* ppavi, AVICOMPRESSOPTIONS** plpOptions);

// Size limit of one RIFF segment of a saved movie; beyond it the movie continues in further
// segments (OpenDML). Values are clamped to 1 .. 1 GiB, the default.
int64_t AviSegmentLimit();
void SetAviSegmentLimit(int64_t bytes);


}  // namespace qv

// The WAV reader belongs to these services; its callers include this header.
#include "video/WaveReader.h"
