// Matching points between two pictures: the smooth map, dense matching of similar pictures
// against known deformations of photographs, face landmarks, the grid proposals and what
// happens on bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "align/Align.h"
#include "align/FaceLandmarks.h"
#include "align/SimilarMatch.h"
#include "align/SyntheticWarp.h"
#include "imageio/GenericGraphic.h"

namespace qv {
namespace {

using qv::testing::ErrorStats;
using qv::testing::TSyntheticWarp;

std::string Fixture(const std::string& name) { return std::string(QV_TEST_DATA_DIR) + "/align/" + name; }

void LoadFixture(const std::string& name, TBitmap& out) {
    TGenericGraphic g;
    g.LoadImageFile(Fixture(name));
    out.Assign(g);
    out.SetPixelFormat(pf32bit);
}

void Uniform(TBitmap& b, int32_t w, int32_t h) {
    b.SetPixelFormat(pf32bit);
    b.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) b.SetPixelColor(x, y, TColor(0x808080));
}

// A grid over Start and End (same size) with an even Cols x Rows mesh on both.
std::unique_ptr<TMorphGrid> MakeGrid(const TBitmap& start, const TBitmap& end, int32_t cols = 7, int32_t rows = 7) {
    auto g = std::make_unique<TMorphGrid>();
    g->StartBmp.Assign(start);
    g->EndBmp.Assign(end);
    g->SetPictureSize({start.Width(), start.Height()});
    g->SetGridSize({cols, rows});
    return g;
}

// Every triangle the renderer cuts the mesh into has its corners in the same turning order.
bool Unfolded(const TMesh& m, int32_t cols, int32_t rows) {
    auto cross = [](TPoint o, TPoint a, TPoint b) {
        return int64_t(a.X - o.X) * (b.Y - o.Y) - int64_t(a.Y - o.Y) * (b.X - o.X);
    };
    for (size_t i = 0; i + 1 < size_t(cols); ++i)
        for (size_t j = 0; j + 1 < size_t(rows); ++j)
            if (cross(m[i][j], m[i + 1][j], m[i][j + 1]) <= 0 || cross(m[i + 1][j], m[i + 1][j + 1], m[i][j + 1]) <= 0)
                return false;
    return true;
}

void ExpectBorderRules(const TMesh& m, int32_t cols, int32_t rows, int32_t w, int32_t h) {
    for (int32_t j = 0; j < rows; ++j) {
        EXPECT_EQ(m[0][size_t(j)].X, 0) << "row " << j;
        EXPECT_EQ(m[size_t(cols - 1)][size_t(j)].X, w) << "row " << j;
    }
    for (int32_t i = 0; i < cols; ++i) {
        EXPECT_EQ(m[size_t(i)][0].Y, 0) << "column " << i;
        EXPECT_EQ(m[size_t(i)][size_t(rows - 1)].Y, h) << "column " << i;
    }
}

// ---- the smooth map -----------------------------------------------------------------

TEST(ThinPlateSpline, InterpolatesAndKeepsAffineMapsExact) {
    const auto affine = [](TPointD p) { return TPointD{0.9 * p.X - 0.2 * p.Y + 30, 0.15 * p.X + 1.1 * p.Y - 12}; };
    const auto bumpy = [](TPointD p) { return TPointD{p.X + 9 * std::sin(p.Y / 40), p.Y + 7 * std::cos(p.X / 50)}; };
    struct TCase {
        const char* Name;
        std::vector<TPointD> From;
        TPointD (*Map)(TPointD);
        bool AffineEverywhere;  // the map is affine, so the spline must be it everywhere
    };
    std::vector<TPointD> scattered, line;
    for (int k = 0; k < 25; ++k) scattered.push_back({std::fmod(k * 97.0, 311), std::fmod(k * 53.0, 241)});
    for (int k = 0; k < 6; ++k) line.push_back({10.0 * k, 5.0 * k});
    const TCase cases[] = {
        {"affine", scattered, +affine, true},
        {"bumpy", scattered, +bumpy, false},
        {"collinear", line, +affine, false},
        {"one pair", {{5, 5}}, +affine, false},
    };
    for (const TCase& c : cases) {
        std::vector<TPointD> to;
        for (TPointD p : c.From) to.push_back(c.Map(p));
        TThinPlateSpline s;
        s.Fit(c.From, to);
        for (size_t k = 0; k < c.From.size(); ++k) {
            const TPointD got = s.Map(c.From[k]);
            EXPECT_NEAR(got.X, to[k].X, 1e-6) << c.Name << " point " << k;
            EXPECT_NEAR(got.Y, to[k].Y, 1e-6) << c.Name << " point " << k;
        }
        for (TPointD far : {TPointD{-400, 900}, TPointD{1500, -200}}) {
            const TPointD got = s.Map(far);
            ASSERT_TRUE(std::isfinite(got.X) && std::isfinite(got.Y)) << c.Name;
            if (c.AffineEverywhere) {
                EXPECT_NEAR(got.X, c.Map(far).X, 1e-6) << c.Name;
                EXPECT_NEAR(got.Y, c.Map(far).Y, 1e-6) << c.Name;
            }
        }
    }
    TThinPlateSpline none;
    none.Fit({}, {});
    EXPECT_NEAR(none.Map({17, -3}).X, 17, 1e-12);
    EXPECT_NEAR(none.Map({17, -3}).Y, -3, 1e-12);
}

// ---- similar pictures ---------------------------------------------------------------

TEST(SimilarMatch, RecoversKnownDeformationsOfPhotographs) {
    struct TCase {
        const char* Photo;
        double MaxDisplacement;
        uint32_t Seed;
    };
    // 20 pixels on these 256-pixel pictures is 40 on 512-pixel ones.
    const TCase cases[] = {{"chelsea.jpg", 20, 3}, {"astronaut-face.jpg", 20, 8}, {"chelsea.jpg", 0, 1}};
    for (const TCase& c : cases) {
        TBitmap start, end;
        LoadFixture(c.Photo, start);
        const TSyntheticWarp warp = c.MaxDisplacement > 0 ? TSyntheticWarp::Make(256, 256, c.MaxDisplacement, c.Seed)
                                                          : TSyntheticWarp{};
        warp.Render(start, end);
        const TSimilarMatch m = MatchSimilar(start, end);
        std::vector<double> errors;
        for (int j = 1; j < 16; ++j)
            for (int i = 1; i < 16; ++i) {
                const TPointD p{i * 16.0, j * 16.0};
                const TPointD truth = warp.Forward(p);
                if (truth.X < 1 || truth.Y < 1 || truth.X > 254 || truth.Y > 254) continue;
                const TPointD got = m.Map.Map(p);
                errors.push_back(std::hypot(got.X - truth.X, got.Y - truth.Y));
            }
        const auto s = ErrorStats(errors);
        EXPECT_GT(s.Count, 150u) << c.Photo;
        EXPECT_LE(s.Mean, c.MaxDisplacement > 0 ? 1.5 : 0.3) << c.Photo << " " << c.MaxDisplacement;
        EXPECT_LE(s.P95, c.MaxDisplacement > 0 ? 4.0 : 0.6) << c.Photo << " " << c.MaxDisplacement;
    }
}

TEST(MatchEndGrid, MovesEndPointsToTheMatchesAndKeepsTheBorderRules) {
    TBitmap start, end;
    LoadFixture("chelsea.jpg", start);
    const TSyntheticWarp warp = TSyntheticWarp::Make(256, 256, 15, 5);
    warp.Render(start, end);
    auto g = MakeGrid(start, end, 8, 6);
    g->StartMesh[3][2] = {101, 77};  // start points need not be even
    TAlignOptions options;
    options.Mode = TMatchMode::Similar;
    const TGridProposal p = ProposeMatchedEndGrid(*g, options);
    EXPECT_EQ(p.Used, TMatchMode::Similar);
    ASSERT_EQ(p.Cols, 8);
    ASSERT_EQ(p.Rows, 6);
    EXPECT_TRUE(p.StartMesh == g->StartMesh);
    ExpectBorderRules(p.EndMesh, 8, 6, 256, 256);
    for (int32_t i = 1; i < 7; ++i)
        for (int32_t j = 1; j < 5; ++j) {
            const TPoint s = g->StartMesh[size_t(i)][size_t(j)];
            const TPointD truth = warp.Forward({double(s.X), double(s.Y)});
            const TPoint e = p.EndMesh[size_t(i)][size_t(j)];
            EXPECT_LE(std::hypot(e.X - truth.X, e.Y - truth.Y), 3.0) << i << "," << j;
        }
    ApplyProposal(*g, p);
    EXPECT_TRUE(g->EndMesh == p.EndMesh);
}

// ---- faces --------------------------------------------------------------------------

// One test, so that the large model is read once (each test runs in a process of its own).
TEST(Faces, LandmarksFaceGridSeveralFacesAndNone) {
    auto model = TFaceModel::Load(DefaultFaceModelFile());
    TBitmap astronaut, hopper, cat, grey;
    LoadFixture("astronaut-face.jpg", astronaut);
    LoadFixture("hopper-face.jpg", hopper);
    LoadFixture("chelsea.jpg", cat);
    Uniform(grey, 256, 256);
    const TFace a = FindFace(astronaut, *model), h = FindFace(hopper, *model);
    {
        SCOPED_TRACE("the same landmarks on a deformed copy");
        TBitmap end;
        const TSyntheticWarp warp = TSyntheticWarp::Make(256, 256, 5, 11);
        warp.Render(astronaut, end);
        const TFace b = FindFace(end, *model);
        ASSERT_EQ(a.FacesFound, 1);
        ASSERT_EQ(b.FacesFound, 1);
        const auto& p = a.Points;
        // The numbering the face grid relies on: eyes left to right, brows above the eyes,
        // the nose tip between the eyes and the mouth, the chin lowest.
        EXPECT_LT(p[36].X, p[39].X);
        EXPECT_LT(p[39].X, p[42].X);
        EXPECT_LT(p[42].X, p[45].X);
        EXPECT_LT(p[19].Y, p[37].Y);
        EXPECT_LT(p[39].Y, p[33].Y);
        EXPECT_LT(p[33].Y, p[62].Y);
        EXPECT_LT(p[57].Y, p[8].Y);
        for (size_t k = 0; k < size_t(kLandmarkCount); ++k) {
            const TPointD truth = warp.Forward(a.Points[k]);
            EXPECT_LE(std::hypot(b.Points[k].X - truth.X, b.Points[k].Y - truth.Y), 3.0) << "landmark " << k;
        }
    }
    {
        SCOPED_TRACE("a face grid on two different faces");
        auto g = MakeGrid(astronaut, hopper);
        const TGridProposal p = ProposeFaceGrid(*g, {});
        EXPECT_GE(p.Cols, 9);
        EXPECT_GE(p.Rows, 7);
        const TFace faces[2] = {a, h};
        for (int side = 0; side < 2; ++side) {
            const TMesh& m = side == 0 ? p.StartMesh : p.EndMesh;
            EXPECT_TRUE(Unfolded(m, p.Cols, p.Rows)) << side;
            ExpectBorderRules(m, p.Cols, p.Rows, 256, 256);
            // Eye corners, nose, mouth corners and chin are nodes of the mesh.
            for (int k : {36, 39, 42, 45, 33, 48, 54, 8}) {
                const TPoint want{int32_t(std::lround(faces[side].Points[size_t(k)].X)),
                                  int32_t(std::lround(faces[side].Points[size_t(k)].Y))};
                bool found = false;
                for (int32_t i = 0; i < p.Cols; ++i)
                    for (int32_t j = 0; j < p.Rows; ++j) found = found || m[size_t(i)][size_t(j)] == want;
                EXPECT_TRUE(found) << "side " << side << " landmark " << k;
            }
        }
    }
    {
        SCOPED_TRACE("two faces in each picture");
        TBitmap both, copy;
        both.SetPixelFormat(pf32bit);
        both.SetSize(512, 256);
        both.Canvas().Draw(0, 0, astronaut);
        both.Canvas().Draw(256, 0, hopper);
        copy.Assign(both);
        auto g = MakeGrid(both, copy);
        TAlignOptions faces;
        faces.Mode = TMatchMode::Faces;
        const TGridProposal p = ProposeMatchedEndGrid(*g, faces);
        ASSERT_EQ(p.Notes.size(), 2u);
        EXPECT_EQ(p.Notes[0], "2 faces in the start picture: the largest is used.");
        EXPECT_EQ(p.Notes[1], "2 faces in the end picture: the largest is used.");
        // Auto does not take a pair of group pictures for two faces.
        EXPECT_EQ(ProposeMatchedEndGrid(*g, {}).Used, TMatchMode::Similar);
    }
    {
        SCOPED_TRACE("no face");
        auto catAndFace = MakeGrid(cat, astronaut), faceAndGrey = MakeGrid(astronaut, grey);
        TAlignOptions faces;
        faces.Mode = TMatchMode::Faces;
        try {
            ProposeMatchedEndGrid(*catAndFace, faces);
            ADD_FAILURE() << "no error";
        } catch (const EAlignError& e) {
            EXPECT_STREQ(e.what(), "No face found in the start picture.");
        }
        try {
            ProposeFaceGrid(*faceAndGrey, {});
            ADD_FAILURE() << "no error";
        } catch (const EAlignError& e) {
            EXPECT_STREQ(e.what(), "No face found in the end picture.");
        }

    }
}

// ---- bad input ----------------------------------------------------------------------

TEST(Align, BadInputGivesAClearMessage) {
    const std::string dir = std::filesystem::temp_directory_path().string();
    const std::string junk = dir + "/qv-align-junk-model.dat", cut = dir + "/qv-align-cut-model.dat";
    {
        std::ofstream(junk, std::ios::binary) << std::string(4096, '\x7f');
        std::ifstream in(DefaultFaceModelFile(), std::ios::binary);
        std::string head(1 << 20, '\0');
        in.read(head.data(), std::streamsize(head.size()));
        std::ofstream(cut, std::ios::binary) << head;
    }
    TBitmap face, grey, small;
    LoadFixture("astronaut-face.jpg", face);
    Uniform(grey, 256, 256);
    Uniform(small, 200, 256);
    struct TCase {
        const char* Name;
        const TBitmap* Start;
        const TBitmap* End;
        TMatchMode Mode;
        bool FaceGrid;
        std::string Model;
        const char* Message;  // a part of the message
    };
    const TCase cases[] = {
        {"uniform", &grey, &grey, TMatchMode::Similar, false, "", "No reliable match"},
        {"sizes", &grey, &small, TMatchMode::Similar, false, "", "(256 x 256) and the end picture (200 x 256) differ"},
        {"missing model", &face, &face, TMatchMode::Faces, false, dir + "/qv-no-such-model.dat", "cannot be read"},
        {"junk model", &face, &face, TMatchMode::Faces, true, junk, "is damaged"},
        {"cut model", &face, &face, TMatchMode::Auto, false, cut, "is damaged"},
    };
    for (const TCase& c : cases) {
        auto g = MakeGrid(*c.Start, *c.End);
        TAlignOptions o;
        o.Mode = c.Mode;
        o.ModelFile = c.Model;
        try {
            if (c.FaceGrid)
                ProposeFaceGrid(*g, o);
            else
                ProposeMatchedEndGrid(*g, o);
            ADD_FAILURE() << c.Name << ": no error";
        } catch (const EAlignError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << c.Name << ": " << e.what();
        }
    }
    TMorphGrid empty;
    EXPECT_THROW(ProposeMatchedEndGrid(empty, {}), EAlignError);
    std::filesystem::remove(junk);
    std::filesystem::remove(cut);
}

TEST(Align, AutoWithoutTheInstalledModelMatchesSimilarPictures) {
    TBitmap start, end;
    LoadFixture("chelsea.jpg", start);
    TSyntheticWarp::Make(256, 256, 10, 2).Render(start, end);
    auto g = MakeGrid(start, end);
    ::setenv("QV_FACE_MODEL", "/nonexistent/shape_predictor.dat", 1);
    const TGridProposal p = ProposeMatchedEndGrid(*g, {});
    ::unsetenv("QV_FACE_MODEL");
    EXPECT_EQ(p.Used, TMatchMode::Similar);
    ASSERT_EQ(p.Notes.size(), 1u);
    EXPECT_NE(p.Notes[0].find("/nonexistent/shape_predictor.dat cannot be read"), std::string::npos) << p.Notes[0];
}

}  // namespace
}  // namespace qv
