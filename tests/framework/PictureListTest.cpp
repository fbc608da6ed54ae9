// The picture-format list: registration, lookup, unregistration, loading, dialog filter.
#include <gtest/gtest.h>
#include <unistd.h>

#include "framework/Exceptions.h"
#include "framework/Picture.h"
#include "framework/System.h"

namespace qv {
namespace {

class TFakeGraphic : public TBitmap {
public:
    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }
    void LoadImageFile(const std::string& fileName) override { Loaded = fileName; }
    std::string Loaded;
};
const TBitmapClass TFakeGraphic::Class{"TFakeGraphic", &TBitmap::Class, &CreateInstance<TFakeGraphic>};

const TBitmapClass kChild{"TFakeChild", &TFakeGraphic::Class, &CreateInstance<TFakeGraphic>};
const TBitmapClass kOther{"TOther", &TBitmap::Class, &CreateInstance<TBitmap>};

// Registered while static objects are built, as the readers do.
const bool gFoundDuringStaticInit = [] {
    TPicture::RegisterFileFormat("Qvx", "Static registration", TFakeGraphic::Class);
    return TPicture::FindFormat("qvx") != nullptr;
}();

class PictureList : public ::testing::Test {
protected:
    void SetUp() override { TPicture::ResetToFrameworkDefaults(); }
    void TearDown() override { TPicture::ResetToFrameworkDefaults(); }
};

TEST(PictureListStatic, UsableDuringStaticInitialisation) { EXPECT_TRUE(gFoundDuringStaticInit); }

TEST_F(PictureList, FrameworkRowsArePresent) {
    const auto& rows = TPicture::Formats();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].Extension, "bmp");
    EXPECT_EQ(rows[0].Description, "Bitmaps");
    EXPECT_EQ(rows[0].Class, &TBitmap::Class);
    EXPECT_EQ(rows[1].Extension, "ico");
    EXPECT_EQ(rows[1].Description, "Icônes");
    EXPECT_EQ(rows[2].Description, "Métafichiers");
    EXPECT_EQ(rows[3].Extension, "emf");
    EXPECT_EQ(rows[3].Description, "Métafichiers améliorés");
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(rows[i].Class, nullptr);
}

TEST_F(PictureList, ExtensionsAreLowerCasedAndTheNewestRowWins) {
    TPicture::RegisterFileFormat(".TGA", "First", TFakeGraphic::Class);
    TPicture::RegisterFileFormat("tga", "Second", kOther);
    EXPECT_EQ(TPicture::Formats()[4].Extension, "tga");
    const TFileFormat* f = TPicture::FindFormat("TgA");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Description, "Second");
    EXPECT_EQ(TPicture::FindFormat(".tga"), f);
    EXPECT_EQ(TPicture::FindFormat("tg"), nullptr);
    EXPECT_EQ(TPicture::FindFormat(""), nullptr);
    // A later row also hides a framework row.
    TPicture::RegisterFileFormat("BMP", "Mine", TFakeGraphic::Class);
    EXPECT_EQ(TPicture::FindFormat("bmp")->Class, &TFakeGraphic::Class);
}

TEST_F(PictureList, UnregisterRemovesTheClassAndItsDescendants) {
    TPicture::RegisterFileFormat("aaa", "A", TFakeGraphic::Class);
    TPicture::RegisterFileFormat("bbb", "B", kChild);
    TPicture::RegisterFileFormat("ccc", "C", kOther);
    TPicture::RegisterFileFormat("ddd", "D", TFakeGraphic::Class);
    TPicture::UnregisterGraphicClass(TFakeGraphic::Class);
    EXPECT_EQ(TPicture::FindFormat("aaa"), nullptr);
    EXPECT_EQ(TPicture::FindFormat("bbb"), nullptr);
    EXPECT_EQ(TPicture::FindFormat("ddd"), nullptr);
    ASSERT_NE(TPicture::FindFormat("ccc"), nullptr);
    ASSERT_NE(TPicture::FindFormat("bmp"), nullptr);
    EXPECT_NE(TPicture::FindFormat("ico"), nullptr);  // rows without a class stay
    EXPECT_EQ(TPicture::Formats().size(), 5u);
}

TEST_F(PictureList, LoadFromFileDispatchesOnTheExtension) {
    TPicture::RegisterFileFormat("fake", "Fake", TFakeGraphic::Class);
    auto picture = TPicture::LoadFromFile("/some/dir.x/Picture.FAKE");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(&picture->ClassType(), &TFakeGraphic::Class);
    EXPECT_EQ(static_cast<TFakeGraphic&>(*picture).Loaded, "/some/dir.x/Picture.FAKE");
}

TEST_F(PictureList, BitmapsLoadThroughTheFrameworkRow) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 2);
    bmp.SetPixelColor(2, 1, RGBColor(10, 20, 30));
    const std::string name = GetTempPath() + "qv_picture_list_" + std::to_string(::getpid()) + ".BMP";
    bmp.SaveImageFile(name);
    auto loaded = TPicture::LoadFromFile(name);
    DeleteFile(name);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(&loaded->ClassType(), &TBitmap::Class);
    EXPECT_EQ(loaded->Width(), 3);
    EXPECT_EQ(loaded->Height(), 2);
    EXPECT_EQ(loaded->PixelColor(2, 1), RGBColor(10, 20, 30));
}

TEST_F(PictureList, UnknownExtensionText) {
    try {
        TPicture::LoadFromFile("/tmp/picture.Xyz");
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Extension de fichier image inconnue (.Xyz)");
    }
    try {
        TPicture::LoadFromFile("dir.d/noext");
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Extension de fichier image inconnue (.)");
    }
}

TEST_F(PictureList, ListedButUnreadableFormatsFailClearly) {
    for (const char* name : {"a.ico", "b.WMF", "c.emf"}) {
        try {
            TPicture::LoadFromFile(name);
            FAIL() << name;
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find("not supported on this platform"), std::string::npos) << e.what();
        }
    }
}

TEST_F(PictureList, FiltersOfferWhatReadsOrWritesNewestFirst) {
    TPicture::RegisterFileFormat("tga", "Truevision images", TFakeGraphic::Class, true);
    TPicture::RegisterFileFormat("gif", "CompuServe images", TFakeGraphic::Class);
    // The framework's icon and metafile rows have no reader, so no dialog offers them.
    EXPECT_EQ(TPicture::GraphicFilter(TFilterUse::Open),
              "Tous (*.gif;*.tga;*.bmp)|*.gif;*.tga;*.bmp|"
              "CompuServe images (*.gif)|*.gif|Truevision images (*.tga)|*.tga|Bitmaps (*.bmp)|*.bmp");
    const auto save = TPicture::GraphicFilterEntries(TFilterUse::Save);
    ASSERT_EQ(save.size(), 3u);
    EXPECT_EQ(save[0].Title, "Tous (*.tga;*.bmp)");
    EXPECT_EQ(save[0].Pattern, "*.tga;*.bmp");
    EXPECT_EQ(save[1].Title, "Truevision images (*.tga)");
    EXPECT_EQ(save[2].Pattern, "*.bmp");
}

}  // namespace
}  // namespace qv
