// The readers' rows of the picture-format list and the class catalogue. Reader classes
// arrive one by one, so the checks hold for whichever classes exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "framework/Exceptions.h"
#include "framework/Picture.h"
#include "imageio/ReaderClasses.h"
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

TEST_F(Registration, TableRowsInOrder) {
    ASSERT_EQ(ReaderRegistrations.size(), 28u);
    const auto& r = ReaderRegistrations;
    EXPECT_STREQ(r[0].Extension, "win");
    EXPECT_STREQ(r[0].ClassName, "TTargaGraphic");
    EXPECT_STREQ(r[3].Extension, "tiff");
    EXPECT_STREQ(r[7].Description, "Word 5.x screen capture images");
    EXPECT_STREQ(r[9].Extension, "rle");
    EXPECT_STREQ(r[9].ClassName, "TBitmap");
    EXPECT_STREQ(r[16].Description, "Portable b&w images");
    EXPECT_STREQ(r[20].Description, "Kodak Photo-CD images");
    EXPECT_STREQ(r[24].Extension, "dib");
    EXPECT_STREQ(r[27].Extension, "bw");
    EXPECT_STREQ(r[27].Description, "SGI black/white images");
    std::set<std::string> extensions;
    for (const auto& row : r) extensions.insert(row.Extension);
    EXPECT_EQ(extensions.size(), 28u) << "each extension once";
    EXPECT_STREQ(ReaderUnregistrationOrder.front(), "TTargaGraphic");
    EXPECT_STREQ(ReaderUnregistrationOrder.back(), "TPSDGraphic");
}

TEST_F(Registration, CatalogueKnowsTheFrameworkBitmap) {
    EXPECT_EQ(FindReaderClass("TBitmap"), &TBitmap::Class);
    EXPECT_EQ(FindReaderClass("tbitmap"), nullptr);
    EXPECT_EQ(FindReaderClass("TNoSuchGraphic"), nullptr);
    EXPECT_EQ(FindReaderClass(""), nullptr);
}

TEST_F(Registration, RegistersExistingClassesInOrderAndFindsUpperCaseExtensions) {
    const size_t before = TPicture::Formats().size();
    RegisterReaders();
    const auto& formats = TPicture::Formats();
    size_t expectedRows = 0;
    size_t at = before;
    for (const auto& row : ReaderRegistrations) {
        const TBitmapClass* cls = FindReaderClass(row.ClassName);
        if (!cls) continue;
        ++expectedRows;
        ASSERT_LT(at, formats.size());
        EXPECT_EQ(formats[at].Extension, row.Extension);
        EXPECT_EQ(formats[at].Description, row.Description);
        EXPECT_EQ(formats[at].Class, cls);
        ++at;
        const TFileFormat* found = TPicture::FindFormat(Upper(row.Extension));
        ASSERT_NE(found, nullptr) << row.Extension;
        EXPECT_EQ(found->Class, cls) << row.Extension;
    }
    EXPECT_EQ(formats.size(), before + expectedRows);
    // The framework bitmap's rows exist from the start.
    ASSERT_NE(TPicture::FindFormat("DIB"), nullptr);
    EXPECT_EQ(TPicture::FindFormat("DIB")->Class, &TBitmap::Class);
    ASSERT_NE(TPicture::FindFormat(".Rle"), nullptr);
    EXPECT_EQ(TPicture::FindFormat(".Rle")->Description, "Windows bitmap");
    if (const TBitmapClass* tiff = FindReaderClass("TTIFFGraphic")) {
        ASSERT_NE(TPicture::FindFormat("TIF"), nullptr);
        EXPECT_EQ(TPicture::FindFormat("TIF")->Class, tiff);
    }
}

TEST_F(Registration, UnregisteringKeepsTheFrameworkBitmapRows) {
    RegisterReaders();
    UnregisterReaders();
    const auto& formats = TPicture::Formats();
    for (const auto& f : formats) {
        for (const char* name : ReaderUnregistrationOrder) {
            if (const TBitmapClass* cls = FindReaderClass(name)) {
                EXPECT_FALSE(f.Class && f.Class->InheritsFrom(*cls)) << f.Extension;
            }
        }
    }
    EXPECT_NE(TPicture::FindFormat("rle"), nullptr);
    EXPECT_NE(TPicture::FindFormat("dib"), nullptr);
    EXPECT_NE(TPicture::FindFormat("bmp"), nullptr);
}

TEST_F(Registration, UnitsStartAndStopSymmetrically) {
    const size_t before = TPicture::Formats().size();
    InitializeUnits();
    const size_t jpegRows = FindReaderClass("TJPEGImage") ? 2 : 0;
    size_t readerRows = 0;
    for (const auto& row : ReaderRegistrations)
        if (FindReaderClass(row.ClassName)) ++readerRows;
    EXPECT_EQ(TPicture::Formats().size(), before + readerRows + jpegRows);
    if (jpegRows) {
        EXPECT_EQ(TPicture::Formats().back().Extension, "jpg");
        EXPECT_EQ(TPicture::FindFormat("JPEG")->Description, "JPEG Image File");
    }
    FinalizeUnits();
    // Only the framework bitmap's own two rows of the table are left behind.
    EXPECT_EQ(TPicture::Formats().size(), before + 2);
    EXPECT_EQ(TPicture::FindFormat("jpg"), nullptr);
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
