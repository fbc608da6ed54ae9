// PNG through libpng. libpng reports errors by longjmp; every function that calls into it
// sets its own jump target and holds only trivially destructible locals, so the jump skips
// no destructor. The libpng structures are freed by their owner on every path.
#include "imageio/PNGGraphic.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/Stream.h"
#include "imageio/ReaderSupport.h"

namespace qv {

const TBitmapClass TPNGGraphic::Class{"TPNGGraphic", &TBitmap::Class, &CreateInstance<TPNGGraphic>};

namespace {

constexpr const char* kFormat = "PNG";

// What the error and I/O callbacks share with the code that called libpng.
struct TPngContext {
    TStream* Stream = nullptr;
    char Message[256] = {};
};

// Errors end the libpng call; the text becomes the reader's or writer's failure.
[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    auto* ctx = static_cast<TPngContext*>(png_get_error_ptr(png));
    if (ctx->Message[0] == 0) std::snprintf(ctx->Message, sizeof ctx->Message, "%s", message);
    png_longjmp(png, 1);
}

// Warnings concern chunks that are dropped anyway (a damaged ancillary chunk, a colour
// profile libpng dislikes); the picture itself is sound, so they are not shown.
void OnWarning(png_structp, png_const_charp) {}

// Stream exceptions must not travel through libpng's C frames: caught here and turned
// into a libpng error.
void ReadData(png_structp png, png_bytep data, png_size_t length) {
    auto* ctx = static_cast<TPngContext*>(png_get_io_ptr(png));
    int64_t got = -1;
    try {
        got = ctx->Stream->Read(data, static_cast<int64_t>(length));
    } catch (const std::exception& e) {
        std::snprintf(ctx->Message, sizeof ctx->Message, "%s", e.what());
    }
    if (got != static_cast<int64_t>(length)) {
        if (ctx->Message[0] == 0) std::snprintf(ctx->Message, sizeof ctx->Message, "the file ends early");
        png_error(png, ctx->Message);
    }
}

void WriteData(png_structp png, png_bytep data, png_size_t length) {
    auto* ctx = static_cast<TPngContext*>(png_get_io_ptr(png));
    try {
        ctx->Stream->WriteBuffer(data, static_cast<int64_t>(length));
        return;
    } catch (const std::exception& e) {
        std::snprintf(ctx->Message, sizeof ctx->Message, "%s", e.what());
    }
    png_error(png, ctx->Message);
}

void FlushData(png_structp) {}

class TPngReadStruct {
public:
    explicit TPngReadStruct(TPngContext& ctx) {
        Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, OnError, OnWarning);
        if (Png != nullptr) Info = png_create_info_struct(Png);
        if (Png == nullptr || Info == nullptr) {
            png_destroy_read_struct(Png ? &Png : nullptr, nullptr, nullptr);
            throw EReaderError(kFormat, "libpng could not start");
        }
        png_set_read_fn(Png, &ctx, ReadData);
    }
    ~TPngReadStruct() { png_destroy_read_struct(&Png, &Info, nullptr); }
    TPngReadStruct(const TPngReadStruct&) = delete;
    TPngReadStruct& operator=(const TPngReadStruct&) = delete;

    png_structp Png = nullptr;
    png_infop Info = nullptr;
};

class TPngWriteStruct {
public:
    explicit TPngWriteStruct(TPngContext& ctx) {
        Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, OnError, OnWarning);
        if (Png != nullptr) Info = png_create_info_struct(Png);
        if (Png == nullptr || Info == nullptr) {
            png_destroy_write_struct(Png ? &Png : nullptr, nullptr);
            throw Exception("PNG: libpng could not start");
        }
        png_set_write_fn(Png, &ctx, WriteData, FlushData);
    }
    ~TPngWriteStruct() { png_destroy_write_struct(&Png, &Info); }
    TPngWriteStruct(const TPngWriteStruct&) = delete;
    TPngWriteStruct& operator=(const TPngWriteStruct&) = delete;

    png_structp Png = nullptr;
    png_infop Info = nullptr;
};

// The header, checked, and the raster it becomes.
struct TPngInfo {
    png_uint_32 Width = 0;
    png_uint_32 Height = 0;
    int BitDepth = 0;
    int ColorType = 0;
    int Interlace = PNG_INTERLACE_NONE;
    int Passes = 1;
    int Channels = 0;
    TPixelFormat Format = pfDevice;
    std::vector<TPaletteEntry> Palette;  // palette pictures only
};

// Reads up to the first pixel data and tells libpng to give rows in the raster's byte layout.
bool ReadHeader(TPngReadStruct& r, TPngInfo& info) {
    png_structp png = r.Png;
    png_infop pi = r.Info;
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, pi);
    png_get_IHDR(png, pi, &info.Width, &info.Height, &info.BitDepth, &info.ColorType, &info.Interlace, nullptr,
                 nullptr);
    info.Channels = png_get_channels(png, pi);

    // 16-bit samples are rounded to 8 bits; low depths come one byte per pixel.
    if (info.BitDepth == 16) png_set_scale_16(png);
    if (info.BitDepth < 8) png_set_packing(png);
    switch (info.ColorType) {
        case PNG_COLOR_TYPE_GRAY:
            if (info.BitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
            info.Format = pf8bit;
            break;
        case PNG_COLOR_TYPE_PALETTE: {
            info.Format = pf8bit;
            png_colorp entries = nullptr;
            int count = 0;
            if (png_get_PLTE(png, pi, &entries, &count) == 0) count = 0;
            for (int i = 0; i < count; ++i)
                info.Palette.push_back({entries[i].red, entries[i].green, entries[i].blue, 0});
            break;
        }
        case PNG_COLOR_TYPE_RGB:
            png_set_bgr(png);
            info.Format = pf24bit;
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            png_set_gray_to_rgb(png);
            png_set_bgr(png);
            info.Format = pf32bit;
            break;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            png_set_bgr(png);
            info.Format = pf32bit;
            break;
        default:
            png_error(png, "unknown colour type");  // libpng refuses these in the header already
    }
    info.Passes = png_set_interlace_handling(png);
    return true;
}

// libpng sizes its row buffers here, so only after the picture's size was accepted.
bool StartRows(TPngReadStruct& r) {
    if (setjmp(png_jmpbuf(r.Png))) return false;
    png_read_update_info(r.Png, r.Info);
    return true;
}

// Reads every pass of every row straight into the raster rows (the transformed rows
// have the raster's layout); interlaced passes fill in the rows they share.
bool ReadRows(TPngReadStruct& r, const TPngInfo& info, uint8_t* const* rows) {
    png_structp png = r.Png;
    if (setjmp(png_jmpbuf(png))) return false;
    for (int pass = 0; pass < info.Passes; ++pass)
        for (png_uint_32 y = 0; y < info.Height; ++y) png_read_row(png, rows[y], nullptr);
    // Trailing chunks after complete pixel data are not read: a file cut after its last
    // pixel row still gives the whole picture, as in every common viewer.
    return true;
}

bool WriteAll(TPngWriteStruct& w, int32_t width, int32_t height, const uint8_t* const* rows) {
    png_structp png = w.Png;
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, w.Info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, w.Info);
    png_set_bgr(png);
    for (int32_t y = 0; y < height; ++y) png_write_row(png, rows[y]);
    png_write_end(png, w.Info);
    return true;
}

std::string Failure(const TPngContext& ctx) { return ctx.Message[0] ? ctx.Message : "libpng failed"; }

}  // namespace

void TPNGGraphic::LoadImageStream(TStream& stream) {
    const int64_t available = BytesLeft(stream);
    TPngContext ctx;
    ctx.Stream = &stream;
    TPngReadStruct r(ctx);
    TPngInfo info;
    if (!ReadHeader(r, info)) throw EReaderError(kFormat, Failure(ctx));

    CheckRasterSize(kFormat, info.Width, info.Height, info.Format);
    const int64_t fileRowBytes = (int64_t(info.Width) * info.Channels * info.BitDepth + 7) / 8;
    CheckFitsFile(kFormat, info.Width, info.Height, fileRowBytes * info.Height / MaxInflateRatio, available);
    if (info.ColorType == PNG_COLOR_TYPE_PALETTE && info.Palette.empty())
        throw EReaderError(kFormat, "palette picture without a palette");
    if (!StartRows(r)) throw EReaderError(kFormat, Failure(ctx));
    // The transformed row must be exactly the raster's pixel bytes.
    const int64_t pixelBytes = int64_t(info.Width) * BitsPerPixel(info.Format) / 8;
    if (int64_t(png_get_rowbytes(r.Png, r.Info)) != pixelBytes)
        throw EReaderError(kFormat, Format("unexpected row length %lld for %lld bytes of pixels",
                                           static_cast<long long>(png_get_rowbytes(r.Png, r.Info)),
                                           static_cast<long long>(pixelBytes)));

    // Decoded into a scratch raster so that a failure leaves this one as it was.
    TBitmap picture;
    picture.SetPixelFormat(info.Format);
    picture.SetSize(int32_t(info.Width), int32_t(info.Height));
    if (info.ColorType == PNG_COLOR_TYPE_PALETTE)
        picture.SetPalette(TLogPalette{0x300, info.Palette});
    else if (info.Format == pf8bit)
        picture.SetPalette(GreyPalette());
    std::vector<uint8_t*> rows(info.Height);
    for (png_uint_32 y = 0; y < info.Height; ++y) rows[y] = picture.ScanLine(int32_t(y));
    if (!ReadRows(r, info, rows.data())) throw EReaderError(kFormat, Failure(ctx));

    // An index beyond the palette has no colour; such a file is damaged.
    const size_t entries = info.Palette.size();
    if (info.ColorType == PNG_COLOR_TYPE_PALETTE && entries < (size_t(1) << info.BitDepth)) {
        for (png_uint_32 y = 0; y < info.Height; ++y)
            for (png_uint_32 x = 0; x < info.Width; ++x)
                if (rows[y][x] >= entries)
                    throw EReaderError(kFormat, Format("palette index %d at (%u, %u) beyond the %zu palette entries",
                                                       rows[y][x], x, y, entries));
    }
    Assign(picture);
    Changed();
}

void TPNGGraphic::SaveImageStream(TStream& stream) {
    if (Empty()) throw Exception("PNG: cannot write an empty picture");
    TBitmap converted;
    const TBitmap& source = As24Bit(*this, converted);
    std::vector<const uint8_t*> rows(size_t(source.Height()));
    for (int32_t y = 0; y < source.Height(); ++y) rows[size_t(y)] = source.ScanLine(y);
    TPngContext ctx;
    ctx.Stream = &stream;
    TPngWriteStruct w(ctx);
    if (!WriteAll(w, source.Width(), source.Height(), rows.data())) throw Exception("PNG: " + Failure(ctx));
}

}  // namespace qv
