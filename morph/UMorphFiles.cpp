// TMorphGrid's file operations: loading the two pictures, and the grid (project) file.
#include <cstring>
#include <exception>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "imageio/GenericGraphic.h"
#include "morph/ParallelBands.h"
#include "morph/UMorph.h"
#include "util/USaveObject.h"

namespace qv {

namespace {

// ---- picture loading -------------------------------------------------------------

// The names a picture path is looked for under: the path as given, then its bare name in
// the current folder. Projects written on Windows store paths such as C:\pics\a.bmp; their
// bare name is what follows the last backslash or drive colon, tried after the plain one.
std::vector<std::string> PictureCandidates(const std::string& fileName) {
    std::vector<std::string> names{fileName};
    const std::string bare = ExtractFileName(fileName);
    if (!bare.empty() && bare != fileName) names.push_back(bare);
    const size_t cut = bare.find_last_of("\\:");
    if (cut != std::string::npos && cut + 1 < bare.size()) names.push_back(bare.substr(cut + 1));
    return names;
}

// Brings the other picture to the size of the one just loaded: a copy of it when the other
// is empty, else the other stretched.
void MatchOtherPicture(TMorphGrid& grid, bool isStart) {
    const TBmp& picture = grid.Bmp(isStart);
    TBmp& other = grid.Bmp(!isStart);
    const int32_t w = grid.PictureWidth, h = grid.PictureHeight;
    if (other.Width() == w && other.Height() == h) return;
    if (other.Empty()) {
        // Nothing to stretch: the other picture starts as a copy of this one.
        other.Assign(picture);
    } else {
        // Stretched into a fresh 32-bit raster whose storage then replaces the other's.
        TBitmap stretched;
        stretched.SetPixelFormat(pf32bit);
        stretched.SetSize(w, h);
        SetStretchBltMode(stretched.Canvas().Handle(), COLORONCOLOR);
        stretched.Canvas().CopyRect(Rect(0, 0, w, h), other.Canvas(), Rect(0, 0, other.Width(), other.Height()));
        other.TakePixels(stretched);
        other.RebuildRowTable();
    }
}

// Reads a picture without touching the grid: false when no file of that name is found.
// A project moved together with its pictures finds them by bare name in the current folder.
bool ReadPicture(const std::string& fileName, TGenericGraphic& g) {
    std::string name;
    for (const std::string& candidate : PictureCandidates(fileName))
        if (FileExists(candidate)) {
            name = candidate;
            break;
        }
    if (name.empty()) return false;
    // Made 32-bit where it is read (a 24-bit bitmap row by row as it comes in); a reader
    // failure (or an unknown type, or an empty picture) raises before the grid changes.
    g.LoadImageFileAs32(name);
    return true;
}

// Moves a picture read by ReadPicture into the grid (its storage, not a copy of it).
// matchOther false leaves the other picture's size to the caller, who is about to replace
// it (a project load: the start picture's copy would only be thrown away).
void TakePicture(TMorphGrid& grid, bool isStart, TGenericGraphic& g, bool matchOther) {
    TBmp& picture = grid.Bmp(isStart);
    picture.TakePixels(g);
    picture.RebuildRowTable();
    grid.SetPictureSize(Point(picture.Width(), picture.Height()));
    if (matchOther) MatchOtherPicture(grid, isStart);
    grid.ResetGrid();
}

// Loads the picture into the grid; false (and nothing changed but the stored name) when no
// file of that name is found.
bool LoadPicture(TMorphGrid& grid, bool isStart, const std::string& fileName) {
    (isStart ? grid.StartFileName : grid.EndFileName) = fileName;
    TGenericGraphic g;
    if (!ReadPicture(fileName, g)) return false;
    TakePicture(grid, isStart, g, true);
    return true;
}

// One line of the missing-picture message: the stored name and where it was looked for.
std::string MissingPictureLine(const char* which, const std::string& fileName) {
    std::string places;
    for (const std::string& candidate : PictureCandidates(fileName))
        places += (places.empty() ? "" : ", ") + ExpandFileName(candidate);
    return Format("The %s picture \"%s\" was not found (looked for %s)", which, fileName.c_str(), places.c_str());
}

// A missing picture is shown white at the project's picture size.
void MakeWhite(TBmp& picture, int32_t width, int32_t height) {
    picture.SetWidth(width);
    picture.SetHeight(height);
    picture.Canvas().Brush.Color = clWhite;
    picture.Canvas().Brush.Style = bsSolid;
    picture.Canvas().FillRect(Rect(0, 0, width, height));
}

// ---- grid file layout ------------------------------------------------------------

constexpr int32_t kMaxNameLength = 8192;  // the name buffer of the stream-string routines
constexpr int32_t kMinCount = 2;
constexpr int32_t kMaxCount = 100;
constexpr int32_t kStoredPoints = 100;  // columns and rows stored, whatever the counts
constexpr int64_t kRecordSize = 16;
constexpr int64_t kPointBlockSize = int64_t(kStoredPoints) * kStoredPoints * kRecordSize;

void PutInt32(uint8_t* p, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
    p[2] = uint8_t(u >> 16);
    p[3] = uint8_t(u >> 24);
}

int32_t GetInt32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                                (uint32_t(p[3]) << 24));
}

// Everything a grid file holds, read and checked before the grid is touched.
struct TGridFileContents {
    std::string StartName;
    std::string EndName;
    int32_t Cols = 0;
    int32_t Rows = 0;
    std::vector<uint8_t> Points;  // kPointBlockSize bytes, file order
};

class TGridFileReader {
public:
    explicit TGridFileReader(const std::string& fileName)
        : FFileName(fileName), FStream(fileName, fmOpenRead | fmShareDenyNone) {}

    TGridFileContents Read() {
        TGridFileContents c;
        c.StartName = ReadName("start");
        c.EndName = ReadName("end");
        c.Cols = ReadCount("column");
        c.Rows = ReadCount("row");
        c.Points.resize(kPointBlockSize);
        const int64_t got = FStream.Read(c.Points.data(), kPointBlockSize);
        if (got != kPointBlockSize)
            Fail(Format("the file ends inside the point block (%lld of %lld bytes)", static_cast<long long>(got),
                        static_cast<long long>(kPointBlockSize)));
        return c;
    }

private:
    [[noreturn]] void Fail(const std::string& problem) const {
        throw EReadError("Damaged grid file " + FFileName + ": " + problem);
    }

    int32_t ReadInt32(const char* what) {
        uint8_t b[4];
        if (FStream.Read(b, 4) != 4) Fail(std::string("the file ends before the ") + what);
        return GetInt32(b);
    }

    std::string ReadName(const char* which) {
        const std::string what = std::string(which) + " picture name";
        const int32_t n = ReadInt32((what + " length").c_str());
        if (n < 0 || n > kMaxNameLength) Fail(Format("%s length %d is outside 0..%d", what.c_str(), n, kMaxNameLength));
        // The field is handed to the stream-string reader in one piece, so the name is
        // decoded exactly as that routine stores it (zero bytes dropped).
        std::vector<uint8_t> field(4 + size_t(n));
        PutInt32(field.data(), n);
        if (FStream.Read(field.data() + 4, n) != n) Fail("the file ends inside the " + what);
        TMemoryStream s(std::move(field));
        std::string name;
        ReadStreamString(s, name);
        return name;
    }

    int32_t ReadCount(const char* which) {
        const std::string what = std::string(which) + " count";
        const int32_t v = ReadInt32(what.c_str());
        if (v < kMinCount || v > kMaxCount) Fail(Format("%s %d is outside %d..%d", what.c_str(), v, kMinCount, kMaxCount));
        return v;
    }

    std::string FFileName;
    TFileStream FStream;
};

}  // namespace

void TMorphGrid::LoadStartPicture(const std::string& fileName) { LoadPicture(*this, true, fileName); }

void TMorphGrid::LoadEndPicture(const std::string& fileName) { LoadPicture(*this, false, fileName); }



void TMorphGrid::LoadGridFile(const std::string& fileName) {
    if (!FileExists(fileName)) return;
    // A damaged file is refused whole, before anything changes.
    TGridFileContents c = TGridFileReader(fileName).Read();

    StartFileName = c.StartName;
    EndFileName = c.EndName;
    MissingPictures.clear();
    // Reading the pictures is most of opening a project: both are read at once, on two
    // threads where the machine has them. They then enter the grid as one after the other
    // would: a start picture that fails to read is reported and nothing changes; an end
    // picture that fails to read is reported after the start picture has entered.
    TGenericGraphic read[2];
    bool found[2] = {false, false};
    std::exception_ptr failed[2];
    ParallelTasks(2, [&](int32_t i) {
        try {
            found[i] = ReadPicture(i == 0 ? StartFileName : EndFileName, read[i]);
        } catch (...) {
            failed[i] = std::current_exception();
        }
    });
    if (failed[0]) std::rethrow_exception(failed[0]);
    // The end picture is matched to the start picture's size as it enters; only when it
    // does not load is the start picture's copy (or stretch) of it needed, made as a lone
    // load of the start picture would have made it.
    const bool startFound = found[0];
    if (startFound) TakePicture(*this, true, read[0], false);
    const bool endFound = found[1] && !failed[1];
    if (endFound) TakePicture(*this, false, read[1], true);
    if (startFound && !endFound) MatchOtherPicture(*this, true);
    if (failed[1]) std::rethrow_exception(failed[1]);

    Cols = c.Cols;
    Rows = c.Rows;
    const uint8_t* p = c.Points.data();
    for (int32_t j = 0; j < kStoredPoints; ++j) {
        for (int32_t i = 0; i < kStoredPoints; ++i, p += kRecordSize) {
            StartMesh[i][j] = Point(GetInt32(p), GetInt32(p + 4));
            EndMesh[i][j] = Point(GetInt32(p + 8), GetInt32(p + 12));
        }
    }

    if (startFound && endFound) return;
    // A missing picture never shows the previous project's: it is white at the project's
    // size, which the found picture gives. With none found the file tells no size (the
    // mesh is no safe guide: a small file could claim a huge raster), so the present size
    // stays.
    // A project saved before it had pictures names none: white too, but nothing is missing.
    std::string message;
    if (!startFound) {
        MakeWhite(StartBmp, PictureWidth, PictureHeight);
        if (!StartFileName.empty()) message = MissingPictureLine("start", StartFileName) + ".";
    }
    if (!endFound) {
        MakeWhite(EndBmp, PictureWidth, PictureHeight);
        if (!EndFileName.empty()) message += (message.empty() ? "" : "\n") + MissingPictureLine("end", EndFileName) + ".";
    }
    MissingPictures = message;
}

void TMorphGrid::SaveGridFile(const std::string& fileName) {
    std::vector<uint8_t> counts(8);
    PutInt32(counts.data(), Cols);
    PutInt32(counts.data() + 4, Rows);
    std::vector<uint8_t> points(kPointBlockSize);
    uint8_t* p = points.data();
    for (int32_t j = 0; j < kStoredPoints; ++j) {
        for (int32_t i = 0; i < kStoredPoints; ++i, p += kRecordSize) {
            PutInt32(p, StartMesh[i][j].X);
            PutInt32(p + 4, StartMesh[i][j].Y);
            PutInt32(p + 8, EndMesh[i][j].X);
            PutInt32(p + 12, EndMesh[i][j].Y);
        }
    }
    // The old file is replaced only by a complete new one.
    WriteFileReplacing(fileName, [&](TStream& s) {
        WriteStreamString(s, StartFileName);
        WriteStreamString(s, EndFileName);
        s.WriteBuffer(counts.data(), int64_t(counts.size()));
        s.WriteBuffer(points.data(), int64_t(points.size()));
    });
}

}  // namespace qv
