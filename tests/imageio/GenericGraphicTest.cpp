// TGenericGraphic: the extension table, loading and saving by extension, and the refusals
// that keep pictures and files intact.
#include <gtest/gtest.h>

#include <set>

#include "GenericTestUtil.h"
#include "JPEGTestUtil.h"
#include "framework/Exceptions.h"
#include "framework/Stream.h"
#include "framework/System.h"
#include "imageio/GenericGraphic.h"
#include "imageio/JPEGImage.h"
#include "imageio/PNGGraphic.h"

namespace qv {
namespace {

using testing::CopyFile;
using testing::DataPath;
using testing::ReadAll;
using testing::TempFolder;

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "(no exception)";
}

// A raster with a recognisable state, to see that failures leave it alone.
void MakeMarked(TBitmap& bmp) {
    bmp.SetPixelFormat(pf32bit);
    bmp.SetSize(6, 3);
    bmp.SetPixelColor(1, 2, RGBColor(1, 2, 3));
}

void ExpectMarked(const TBitmap& bmp) {
    EXPECT_EQ(bmp.Width(), 6);
    EXPECT_EQ(bmp.Height(), 3);
    EXPECT_EQ(bmp.PixelFormat(), pf32bit);
    EXPECT_EQ(bmp.PixelColor(1, 2), RGBColor(1, 2, 3));
}

TEST(GenericGraphicTable, KeyIsLowerCasedTextAfterTheLastDotOfTheBareName) {
    EXPECT_EQ(TGenericGraphic::ExtensionKey("PHOTO.TGA"), "tga");
    EXPECT_EQ(TGenericGraphic::ExtensionKey("photo.tga"), "tga");
    EXPECT_EQ(TGenericGraphic::ExtensionKey("/home/u/archive.backup.Bmp"), "bmp");
    EXPECT_EQ(TGenericGraphic::ExtensionKey("/home/u.v2/noextension"), "");
    EXPECT_EQ(TGenericGraphic::ExtensionKey("dir.jpg/readme"), "");
    EXPECT_EQ(TGenericGraphic::ExtensionKey("trailing."), "");
    EXPECT_EQ(TGenericGraphic::ExtensionKey(""), "");
}

TEST(GenericGraphicTable, EachExtensionOnceWithItsClass) {
    std::set<std::string> seen;
    for (const TFormatRow& row : FormatTable()) {
        if (!row.Generic) continue;
        EXPECT_TRUE(seen.insert(row.Extension).second) << "duplicate " << row.Extension;
        EXPECT_EQ(LowerCase(row.Extension), row.Extension);
    }
    EXPECT_EQ(seen.size(), 34u);  // the 30 of old, jpeg, jpe, jfif and png

    struct TCase {
        const char* Name;
        const TBitmapClass* Class;
    };
    for (const TCase& c : std::initializer_list<TCase>{{"a.jpg", &TJPEGImage::Class},
                                                       {"A.JPEG", &TJPEGImage::Class},
                                                       {"a.jpe", &TJPEGImage::Class},
                                                       {"a.JFIF", &TJPEGImage::Class},
                                                       {"a.Png", &TPNGGraphic::Class},
                                                       {"a.rle", &TRLEGraphic::Class},
                                                       {"a.dib", &TBitmap::Class},
                                                       {"x/archive.backup.bmp", &TBitmap::Class},
                                                       {"p.tga", FindFormatClass("TTargaGraphic")},
                                                       {"p.pcc", FindFormatClass("TPCXGraphic")},
                                                       {"a.xyz", nullptr},
                                                       {"bmp", nullptr}})
        EXPECT_EQ(TGenericGraphic::FindClass(c.Name), c.Class) << c.Name;
}

TEST(GenericGraphicLoad, BitmapsByLastExtensionInAnyCase) {
    TempFolder dir;
    for (const std::string name : {"archive.backup.bmp", "PHOTO.BMP", "pic.rle", "pic.dib"}) {
        CopyFile(DataPath("generic/rgb24.bmp"), dir / name);
        TGenericGraphic g;
        g.LoadImageFile(dir / name);
        EXPECT_EQ(testing::MaxChannelDifference(g, testing::ReadPpm(DataPath("generic/rgb24.ppm"))), 0) << name;
    }
    TGenericGraphic g;
    g.LoadImageFile(DataPath("generic/pal.bmp"));
    EXPECT_EQ(testing::MaxChannelDifference(g, testing::ReadPpm(DataPath("generic/pal.ppm"))), 0);
}

TEST(GenericGraphicLoad, JpegThroughTheJpegClass) {
    TGenericGraphic g;
    g.LoadImageFile(DataPath("jpeg/colour444.jpg"));
    EXPECT_EQ(g.PixelFormat(), pf24bit);
    EXPECT_LE(testing::MaxChannelDifference(g, testing::ReadPpm(DataPath("jpeg/colour444.ppm"))), 2);
}

TEST(GenericGraphicLoad, TargaInEitherCase) {
    TempFolder dir;
    for (const std::string name : {"PHOTO.TGA", "photo.tga"}) {
        CopyFile(DataPath("generic/photo.tga"), dir / name);
        TGenericGraphic g;
        g.LoadImageFile(dir / name);
        EXPECT_EQ(testing::MaxChannelDifference(g, testing::ReadPpm(DataPath("generic/photo.ppm"))), 0) << name;
    }
}

// Photos are often named .jpeg, .jpe or .jfif; all of them are JPEG, loaded and saved.
TEST(GenericGraphicLoad, EveryJpegExtensionLoadsAndSaves) {
    TempFolder dir;
    for (const std::string name : {"photo.jpeg", "photo.JPE", "photo.jfif"}) {
        CopyFile(DataPath("jpeg/colour444.jpg"), dir / name);
        TGenericGraphic g;
        g.LoadImageFile(dir / name);
        EXPECT_LE(testing::MaxChannelDifference(g, testing::ReadPpm(DataPath("jpeg/colour444.ppm"))), 2) << name;
        g.SaveImageFile(dir / ("out-" + name));
        const auto bytes = ReadAll(dir / ("out-" + name));
        ASSERT_GT(bytes.size(), 2u) << name;
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xD8);
    }
}

TEST(GenericGraphicLoad, UnknownExtensionRaisesAndChangesNothing) {
    TempFolder dir;
    CopyFile(DataPath("jpeg/colour444.jpg"), dir / "photo.xyz");
    CopyFile(DataPath("generic/rgb24.bmp"), dir / "noextension");
    TGenericGraphic g;
    MakeMarked(g);
    EXPECT_EQ(Message([&] { g.LoadImageFile(dir / "photo.xyz"); }), "Unknown picture file type: .xyz");
    ExpectMarked(g);
    EXPECT_EQ(Message([&] { g.LoadImageFile(dir / "noextension"); }),
              "Unknown picture file type: noextension has no extension");
    ExpectMarked(g);
}

TEST(GenericGraphicLoad, MissingFileFailsToOpenWhateverTheExtension) {
    TempFolder dir;
    TGenericGraphic g;
    MakeMarked(g);
    EXPECT_THROW(g.LoadImageFile(dir / "absent.bmp"), EFOpenError);
    EXPECT_THROW(g.LoadImageFile(dir / "absent.xyz"), EFOpenError);
    ExpectMarked(g);
}

TEST(GenericGraphicLoad, ReaderFailureAndEmptyPictureChangeNothing) {
    TempFolder dir;
    auto jpg = ReadAll(DataPath("jpeg/colour420.jpg"));
    jpg.resize(jpg.size() / 2);
    testing::WriteBytes(dir / "cut.jpg", jpg);
    TGenericGraphic g;
    MakeMarked(g);
    EXPECT_THROW(g.LoadImageFile(dir / "cut.jpg"), EInvalidGraphic);
    ExpectMarked(g);

    // A bitmap header announcing 0 x 0 pixels: refused, by the bitmap reader or as
    // "No picture in file".
    std::vector<uint8_t> bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                0,   0,   0,  0, 0, 0, 0, 0, 1, 0, 24, 0};
    bmp.resize(58, 0);
    testing::WriteBytes(dir / "empty.bmp", bmp);
    std::string msg = Message([&] { g.LoadImageFile(dir / "empty.bmp"); });
    EXPECT_NE(msg, "(no exception)");
    ExpectMarked(g);

    // A GIF whose screen and image are 0 x 0; the GIF reader hands back an empty picture.
    {
        testing::WriteBytes(dir / "empty.gif", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, ',', 0, 0, 0, 0,
                                                0,   0,   0,   0,   0,   2,   2, 0x44, 0x01, 0, ';'});
        msg = Message([&] { g.LoadImageFile(dir / "empty.gif"); });
        EXPECT_NE(msg, "(no exception)");
        if (msg.rfind("No picture in file: ", 0) == 0) {
            EXPECT_EQ(msg, "No picture in file: " + (dir / "empty.gif"));
        }
        ExpectMarked(g);
    }
}

TEST(GenericGraphicSave, FormatFollowsTheExtension) {
    TempFolder dir;
    TGenericGraphic g;
    testing::FillSmooth(g, 20, 10);

    g.SaveImageFile(dir / "out.bmp");
    g.SaveImageFile(dir / "out.RLE");
    g.SaveImageFile(dir / "out.jpg");
    for (const char* name : {"out.bmp", "out.RLE"}) {
        auto bytes = ReadAll(dir / name);
        ASSERT_GT(bytes.size(), 54u) << name;
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(bytes[1], 'M');
        TGenericGraphic back;
        back.LoadImageFile(dir / name);
        EXPECT_EQ(testing::MaxChannelDifference(g, back), 0) << name;
    }
    auto jpg = ReadAll(dir / "out.jpg");
    ASSERT_GT(jpg.size(), 2u);
    EXPECT_EQ(jpg[0], 0xFF);
    EXPECT_EQ(jpg[1], 0xD8);
    // Only the finished files are left, no temporaries.
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out.RLE", "out.bmp", "out.jpg"}));
}

TEST(GenericGraphicSave, TargaGetsItsOwnFormat) {
    TempFolder dir;
    TGenericGraphic g;
    testing::FillSmooth(g, 8, 4);
    g.SaveImageFile(dir / "x.tga");
    TGenericGraphic back;
    back.LoadImageFile(dir / "x.tga");
    EXPECT_EQ(testing::MaxChannelDifference(g, back), 0);
}

// A format that is only read is refused by name; nothing is written under it, and an
// existing file of that name is kept.
TEST(GenericGraphicSave, RefusedSavesLeaveNoFileAndKeepTheOldOne) {
    TempFolder dir;
    TGenericGraphic g;
    testing::FillSmooth(g, 8, 4);
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (const std::string ext : {"gif", "GIF", "psd", "pdd", "sgi", "rgb", "rgba", "bw", "ppm", "pgm", "pbm", "pcd",
                                  "cut", "rla", "rpf", "cel", "pic", "pcx", "pcc", "scr", "tif", "tiff"}) {
        EXPECT_EQ(Message([&] { g.SaveImageFile(dir / ("x." + ext)); }),
                  "Cannot save pictures as ." + LowerCase(ext) + " files");
        EXPECT_FALSE(FileExists(dir / ("x." + ext))) << ext;
        testing::WriteBytes(dir / ("kept." + ext), old);
        EXPECT_THROW(g.SaveImageFile(dir / ("kept." + ext)), EInvalidGraphic) << ext;
        EXPECT_EQ(ReadAll(dir / ("kept." + ext)), old) << ext;
    }
    EXPECT_EQ(Message([&] { g.SaveImageFile(dir / "x.xyz"); }), "Unknown picture file type: .xyz");
    EXPECT_EQ(Message([&] { g.SaveImageFile(dir / "noext"); }), "Unknown picture file type: noext has no extension");
    EXPECT_FALSE(FileExists(dir / "x.xyz"));
}

// A 1-bit picture saved as Targa asks first; declined, nothing is written, and the message
// does not claim that Targa files cannot be saved.
TEST(GenericGraphicSave, DeclinedTargaConversionLeavesTheOldFileAndSaysSo) {
    struct HookGuard {
        ~HookGuard() { SetQuestionHook(nullptr); }
    } guard;
    int asked = 0;
    SetQuestionHook([&](const std::string&) {
        ++asked;
        return false;
    });
    TempFolder dir;
    TGenericGraphic g;
    g.SetPixelFormat(pf1bit);
    g.SetSize(5, 3);
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    testing::WriteBytes(dir / "x.tga", old);
    EXPECT_EQ(Message([&] { g.SaveImageFile(dir / "x.tga"); }),
              "Nothing was written: the picture was not saved as " + (dir / "x.tga"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadAll(dir / "x.tga"), old);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"x.tga"});
}

TEST(GenericGraphicSave, WriterFailureKeepsTheOldFile) {
    TempFolder dir;
    const std::vector<uint8_t> old = {1, 2, 3, 4};
    testing::WriteBytes(dir / "keep.jpg", old);
    TGenericGraphic empty;  // the JPEG writer refuses an empty picture
    EXPECT_THROW(empty.SaveImageFile(dir / "keep.jpg"), Exception);
    EXPECT_EQ(ReadAll(dir / "keep.jpg"), old);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.jpg"});
}

}  // namespace
}  // namespace qv
