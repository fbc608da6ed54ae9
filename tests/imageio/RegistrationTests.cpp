// The format table's rows in the picture-format list, and the dialogs' filters that come
// from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "framework/Exceptions.h"
#include "framework/Picture.h"
#include "imageio/GenericGraphic.h"
#include "imageio/JPEGImage.h"
#include "imageio/PNGGraphic.h"
#include "imageio/Registration.h"

namespace qv {
namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { TPicture::ResetToFrameworkDefaults(); }
    void TearDown() override { TPicture::ResetToFrameworkDefaults(); }
};

TEST_F(Registration, ReaderRowsInOrder) {
    const auto r = RegistrationRows(TFormatUnit::Readers);
    ASSERT_EQ(r.size(), 28u);
    struct TExpect {
        size_t At;
        const char* Extension;
        const char* Description;
        const char* ClassName;
    };
    for (const TExpect& e : std::initializer_list<TExpect>{
             {0, "win", "Truevision images", "TTargaGraphic"},
             {3, "tiff", "TIFF images", "TTIFFGraphic"},
             {7, "scr", "Word 5.x screen capture images", "TPCXGraphic"},
             {9, "rle", "Windows bitmap", "TBitmap"},
             {16, "pbm", "Portable b&w images", "TPPMGraphic"},
             {20, "pcd", "Kodak Photo-CD images", "TPCDGraphic"},
             {24, "dib", "Windows bitmap", "TBitmap"},
             {27, "bw", "SGI black/white images", "TSGIGraphic"}}) {
        EXPECT_STREQ(r[e.At]->Extension, e.Extension) << e.At;
        EXPECT_STREQ(r[e.At]->Description, e.Description) << e.At;
        EXPECT_STREQ(r[e.At]->Class->Name, e.ClassName) << e.At;
    }
    std::set<std::string> extensions;
    for (const auto* row : r) extensions.insert(row->Extension);
    EXPECT_EQ(extensions.size(), 28u) << "each extension once";
    EXPECT_EQ(FindFormatClass("TBitmap"), &TBitmap::Class);
    EXPECT_EQ(FindFormatClass("tbitmap"), nullptr);
}

TEST_F(Registration, RegistersInOrderAndFindsUpperCaseExtensions) {
    const size_t before = TPicture::Formats().size();
    RegisterReaders();
    const auto& formats = TPicture::Formats();
    const auto rows = RegistrationRows(TFormatUnit::Readers);
    ASSERT_EQ(formats.size(), before + rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(formats[before + i].Extension, rows[i]->Extension);
        EXPECT_EQ(formats[before + i].Description, rows[i]->Description);
        EXPECT_EQ(formats[before + i].Class, rows[i]->Class);
        const TFileFormat* found = TPicture::FindFormat(Upper(rows[i]->Extension));
        ASSERT_NE(found, nullptr) << rows[i]->Extension;
        EXPECT_EQ(found->Class, rows[i]->Class);
    }
    EXPECT_EQ(TPicture::FindFormat(".Rle")->Class, &TBitmap::Class);
}

TEST_F(Registration, UnitsStartAndStopSymmetrically) {
    const size_t before = TPicture::Formats().size();
    InitializeUnits();
    EXPECT_EQ(TPicture::Formats().size(), before + 28 + 4 + 1);
    EXPECT_EQ(TPicture::FindFormat("JPEG")->Description, "JPEG Image File");
    EXPECT_EQ(TPicture::FindFormat("jfif")->Class, &TJPEGImage::Class);
    EXPECT_EQ(TPicture::FindFormat("PNG")->Class, &TPNGGraphic::Class);
    FinalizeUnits();
    // Only the framework bitmap's own two rows of the table are left behind.
    EXPECT_EQ(TPicture::Formats().size(), before + 2);
    EXPECT_NE(TPicture::FindFormat("rle"), nullptr);
    EXPECT_NE(TPicture::FindFormat("dib"), nullptr);
    EXPECT_EQ(TPicture::FindFormat("jpg"), nullptr);
    EXPECT_EQ(TPicture::FindFormat("png"), nullptr);
    EXPECT_EQ(TPicture::FindFormat("tga"), nullptr);
}

// The dialogs and TGenericGraphic must agree: every extension the open dialog offers
// loads, every one the save dialog offers saves, and nothing that loads is missing.
TEST_F(Registration, DialogsOfferExactlyWhatLoadsAndWhatSaves) {
    InitializeUnits();
    auto patterns = [](TFilterUse use) {
        const auto entries = TPicture::GraphicFilterEntries(use);
        EXPECT_EQ(entries.front().Title.rfind("Tous (", 0), 0u);
        std::set<std::string> out;
        std::string all = entries.front().Pattern + ";";
        for (size_t at = 0, semi; (semi = all.find(';', at)) != std::string::npos; at = semi + 1)
            out.insert(all.substr(at + 2, semi - at - 2));  // "*.ext"
        EXPECT_EQ(out.size() + 1, entries.size()) << "one entry per extension";
        return out;
    };
    const std::set<std::string> open = patterns(TFilterUse::Open);
    const std::set<std::string> save = patterns(TFilterUse::Save);
    std::set<std::string> loads, saves;
    for (const TFormatRow& row : FormatTable()) {
        if (!row.Generic) continue;
        loads.insert(row.Extension);
        if (row.CanWrite) saves.insert(row.Extension);
    }
    EXPECT_EQ(open, loads);
    EXPECT_EQ(save, saves);
    EXPECT_EQ(save, (std::set<std::string>{"bmp", "dib", "rle", "jpg", "jpeg", "jpe", "jfif", "png", "tga", "win",
                                            "vst", "vda", "icb"}));
    FinalizeUnits();
}

TEST_F(Registration, UnregisteredExtensionStillFailsWithTheFrameworkText) {
    RegisterReaders();
    try {
        TPicture::LoadFromFile("picture.xyz");
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "Extension de fichier image inconnue (.xyz)");
    }
}

}  // namespace
}  // namespace qv
