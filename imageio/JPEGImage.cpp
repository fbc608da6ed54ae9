#include "imageio/JPEGImage.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"

namespace qv {

const TBitmapClass TJPEGImage::Class{"TJPEGImage", &TBitmap::Class, &CreateInstance<TJPEGImage>};

namespace {

constexpr size_t kBufferSize = 64 * 1024;
// A progressive file may announce any number of scans, each costing a pass over the
// whole coefficient buffer; real files have a dozen or so.
constexpr int kMaxScans = 1000;
// Bound for libjpeg's own work memory (the coefficient buffer of progressive files).
constexpr long kMaxLibjpegMemory = 1L << 30;

// libjpeg reports fatal errors through error_exit, which must not return. We jump back
// to the frame that started the libjpeg call; that frame holds only trivially destructible
// objects, so no destructor is skipped. The libjpeg objects themselves are destroyed by
// their owners (below) on every path.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX + 64];
};

[[noreturn]] void FailWith(j_common_ptr cinfo, const char* text) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", text);
    std::longjmp(err->jump, 1);
}

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (for example extraneous bytes before a marker) are not printed anywhere.
void OutputMessage(j_common_ptr) {}

void InitErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
    err.message[0] = 0;
}

void ProgressMonitor(j_common_ptr cinfo) {
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans) {
            char text[80];
            std::snprintf(text, sizeof text, "too many scans (more than %d)", kMaxScans);
            FailWith(cinfo, text);
        }
    }
}

// ---- reading from a TStream ------------------------------------------------------

struct StreamSource {
    jpeg_source_mgr pub;
    TStream* stream;
    JOCTET* buffer;
    char readError[256];
};

// Stream exceptions must not travel through libjpeg's C frames: caught here, reported
// as a libjpeg failure by the caller.
int64_t ReadNoThrow(StreamSource& src) noexcept {
    try {
        return src.stream->Read(src.buffer, static_cast<int64_t>(kBufferSize));
    } catch (const std::exception& e) {
        std::snprintf(src.readError, sizeof src.readError, "%s", e.what());
    } catch (...) {
        std::snprintf(src.readError, sizeof src.readError, "read failure");
    }
    return -1;
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<StreamSource*>(cinfo->src);
    int64_t n = ReadNoThrow(*src);
    if (n < 0) FailWith(reinterpret_cast<j_common_ptr>(cinfo), src->readError);
    // A truncated file is an error, not a picture with a grey bottom.
    if (n == 0) ERREXIT(cinfo, JERR_INPUT_EOF);
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = static_cast<size_t>(n);
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long numBytes) {
    auto* src = reinterpret_cast<StreamSource*>(cinfo->src);
    if (numBytes <= 0) return;
    while (static_cast<size_t>(numBytes) > src->pub.bytes_in_buffer) {
        numBytes -= static_cast<long>(src->pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += numBytes;
    src->pub.bytes_in_buffer -= static_cast<size_t>(numBytes);
}

// ---- writing to a TStream --------------------------------------------------------

struct StreamDest {
    jpeg_destination_mgr pub;
    TStream* stream;
    JOCTET* buffer;
    char writeError[256];
};

bool WriteNoThrow(StreamDest& dest, size_t count) noexcept {
    try {
        dest.stream->WriteBuffer(dest.buffer, static_cast<int64_t>(count));
        return true;
    } catch (const std::exception& e) {
        std::snprintf(dest.writeError, sizeof dest.writeError, "%s", e.what());
    } catch (...) {
        std::snprintf(dest.writeError, sizeof dest.writeError, "write failure");
    }
    return false;
}

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDest*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDest*>(cinfo->dest);
    if (!WriteNoThrow(*dest, kBufferSize)) FailWith(reinterpret_cast<j_common_ptr>(cinfo), dest->writeError);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDest*>(cinfo->dest);
    size_t used = kBufferSize - dest->pub.free_in_buffer;
    if (used > 0 && !WriteNoThrow(*dest, used)) FailWith(reinterpret_cast<j_common_ptr>(cinfo), dest->writeError);
}

// ---- owners of the libjpeg objects -----------------------------------------------

struct Decompressor {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    StreamSource src;
    jpeg_progress_mgr progress;
    std::vector<JOCTET> buffer;

    explicit Decompressor(TStream& stream) : buffer(kBufferSize) {
        // Zeroed so that destroying is safe even when creating failed half-way.
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&src, 0, sizeof src);
        std::memset(&progress, 0, sizeof progress);
        InitErrorManager(err);
        cinfo.err = &err.pub;
        src.pub.init_source = InitSource;
        src.pub.fill_input_buffer = FillInputBuffer;
        src.pub.skip_input_data = SkipInputData;
        src.pub.resync_to_restart = jpeg_resync_to_restart;
        src.pub.term_source = TermSource;
        src.stream = &stream;
        src.buffer = buffer.data();
        progress.progress_monitor = ProgressMonitor;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

struct Compressor {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    StreamDest dest;
    std::vector<JOCTET> buffer;

    explicit Compressor(TStream& stream) : buffer(kBufferSize) {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&dest, 0, sizeof dest);
        InitErrorManager(err);
        cinfo.err = &err.pub;
        dest.pub.init_destination = InitDestination;
        dest.pub.empty_output_buffer = EmptyOutputBuffer;
        dest.pub.term_destination = TermDestination;
        dest.stream = &stream;
        dest.buffer = buffer.data();
    }
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

uint8_t Div255(int v) { return static_cast<uint8_t>((v + 127) / 255); }

// CMYK samples to B, G, R. Adobe applications (and ImageMagick) store the inks inverted
// and mark the file with an Adobe APP14 segment.
void CmykRowToBgr(const JSAMPLE* cmyk, uint8_t* bgr, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        // Here each value is the fraction of light the ink lets through.
        bgr[0] = Div255(y * k);
        bgr[1] = Div255(m * k);
        bgr[2] = Div255(c * k);
    }
}

// All libjpeg work of a load. Returns false with d.err.message set when libjpeg failed.
// Only trivially destructible locals live here (see ErrorManager).
bool RunDecode(Decompressor& d, TBitmap& out, int64_t inputBytes) {
    j_decompress_ptr cinfo = &d.cinfo;
    if (setjmp(d.err.jump)) return false;

    jpeg_create_decompress(cinfo);
    cinfo->src = &d.src.pub;
    cinfo->progress = &d.progress;
    cinfo->mem->max_memory_to_use = kMaxLibjpegMemory;

    jpeg_read_header(cinfo, TRUE);

    bool cmyk = false;
    switch (cinfo->jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            cinfo->out_color_space = JCS_EXT_BGR;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cinfo->out_color_space = JCS_CMYK;
            cmyk = true;
            break;
        default:
            std::snprintf(d.err.message, sizeof d.err.message, "unsupported colour space with %d components",
                          cinfo->num_components);
            return false;
    }
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    cinfo->do_fancy_upsampling = TRUE;
    cinfo->buffered_image = FALSE;
    cinfo->quantize_colors = FALSE;
    jpeg_calc_output_dimensions(cinfo);

    const int64_t width = cinfo->output_width;
    const int64_t height = cinfo->output_height;
    const int64_t rowBytes = RasterRowBytes(width, pf24bit);
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX ||
        rowBytes * height > kMaxRasterBytes) {
        std::snprintf(d.err.message, sizeof d.err.message, "picture of %lld x %lld pixels is too large",
                      static_cast<long long>(width), static_cast<long long>(height));
        return false;
    }
    if (width * height > TJPEGImage::MinBoundedPixels &&
        width * height / TJPEGImage::MaxPixelsPerInputByte > inputBytes) {
        std::snprintf(d.err.message, sizeof d.err.message,
                      "%lld x %lld pixels announced by a file of %lld bytes", static_cast<long long>(width),
                      static_cast<long long>(height), static_cast<long long>(inputBytes));
        return false;
    }

    out.SetPixelFormat(pf24bit);
    out.SetSize(static_cast<int32_t>(width), static_cast<int32_t>(height));

    jpeg_start_decompress(cinfo);
    const bool inverted = cinfo->saw_Adobe_marker;
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk) {
        cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              cinfo->output_width * 4, 1);
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        uint8_t* row = out.ScanLine(static_cast<int32_t>(cinfo->output_scanline));
        JSAMPROW rows[1] = {row};
        // Our source never suspends, so every call delivers a row.
        if (jpeg_read_scanlines(cinfo, cmyk ? cmykRow : rows, 1) != 1) {
            std::snprintf(d.err.message, sizeof d.err.message, "no data for row %u", cinfo->output_scanline);
            return false;
        }
        if (cmyk) CmykRowToBgr(cmykRow[0], row, cinfo->output_width, inverted);
    }
    // Every row is in: a missing end marker after complete picture data is tolerated,
    // as all common viewers do, so the decoder is not asked to look for it.
    jpeg_abort_decompress(cinfo);
    return true;
}

bool RunEncode(Compressor& c, const TBitmap& picture, int quality) {
    j_compress_ptr cinfo = &c.cinfo;
    if (setjmp(c.err.jump)) return false;

    jpeg_create_compress(cinfo);
    cinfo->dest = &c.dest.pub;
    cinfo->image_width = static_cast<JDIMENSION>(picture.Width());
    cinfo->image_height = static_cast<JDIMENSION>(picture.Height());
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);  // YCbCr, baseline Huffman tables, sequential
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        // libjpeg only reads input rows.
        JSAMPROW rows[1] = {const_cast<JSAMPLE*>(picture.ScanLine(static_cast<int32_t>(cinfo->next_scanline)))};
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

}  // namespace

void TJPEGImage::SetCompressionQuality(int value) {
    if (value < 1 || value > 100) throw EConvertError(Format("JPEG quality %d is outside 1..100", value));
    FCompressionQuality = value;
}

void TJPEGImage::LoadImageStream(TStream& stream) {
    int64_t inputBytes = 0;
    try {
        inputBytes = stream.Size() - stream.Position();
    } catch (const Exception&) {
        inputBytes = 0;  // size unknown: only the raster limit applies
    }
    if (inputBytes <= 0) inputBytes = INT64_MAX / 2;

    // Decoded into a scratch raster so that a failure leaves this one as it was.
    TBitmap picture;
    {
        Decompressor d(stream);
        if (!RunDecode(d, picture, inputBytes))
            throw EInvalidGraphic(std::string("JPEG error: ") + d.err.message);
        // Leave the stream just after the data the decoder consumed.
        if (d.src.pub.bytes_in_buffer > 0) {
            try {
                stream.Seek(-static_cast<int64_t>(d.src.pub.bytes_in_buffer), TSeekOrigin::soCurrent);
            } catch (const Exception&) {
                // Not seekable: the position only matters to callers reading on.
            }
        }
    }
    Assign(picture);
    Changed();
}

void TJPEGImage::SaveImageStream(TStream& stream) {
    if (Empty()) throw EInvalidGraphic("JPEG error: cannot write an empty picture");
    TBitmap converted;
    const TBitmap& source = As24Bit(*this, converted);
    Compressor c(stream);
    if (!RunEncode(c, source, FCompressionQuality))
        throw Exception(std::string("JPEG error: ") + c.err.message);
}

}  // namespace qv
