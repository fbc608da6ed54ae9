// Timing curves, their text form, and the timing file beside a project.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "framework/System.h"
#include "imageio/GenericTestUtil.h"
#include "morph/Bmp_.h"
#include "morph/MorphTestSupport.h"
#include "morph/MorphTiming.h"
#include "morph/ParallelBands.h"
#include "morph/UMorph.h"

namespace qv {
namespace {

using testing::TempFolder;

TTimingCurve Curve(TCurveKind kind, int32_t delay, int32_t lead) { return {kind, delay, lead}; }

TEST(MorphTimingTest, CurvesMapTheSliderOntoPositions) {
    using enum TCurveKind;
    struct Case {
        TTimingCurve Curve;
        int32_t T, Want;
    };
    const Case cases[] = {
        {Curve(EaseInOut, 0, 0), 0, 0},    {Curve(EaseInOut, 0, 0), 128, 128}, {Curve(EaseInOut, 0, 0), 256, 256},
        {Curve(EaseInOut, 0, 0), 64, 40},  // 256 x (3/16 - 2/64): slow start
        {Curve(EaseInOut, 0, 0), 192, 216},
        {Curve(Linear, 25, 0), 64, 0},     {Curve(Linear, 25, 0), 160, 128},   {Curve(Linear, 25, 0), 256, 256},
        {Curve(Linear, 0, 25), 96, 128},   {Curve(Linear, 0, 25), 192, 256},   {Curve(Linear, 0, 25), 0, 0},
        {Curve(Linear, 45, 45), 127, 118}, {Curve(Linear, 45, 45), 129, 138},  // ten times as steep
        {Curve(Linear, 0, 0), -7, 0},      {Curve(Linear, 0, 0), 300, 256},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.Curve.Apply(c.T), c.Want) << CurveText(c.Curve) << " at " << c.T;

    // Linear is the identity everywhere; every curve rises from 0 to 256 without going back.
    for (int32_t t = 0; t <= 256; ++t) ASSERT_EQ(TTimingCurve{}.Apply(t), t);
    for (const TTimingCurve& c : {Curve(EaseInOut, 0, 0), Curve(EaseInOut, 30, 20), Curve(Linear, 90, 0),
                                  Curve(Linear, 0, 90), Curve(EaseInOut, 45, 45)}) {
        EXPECT_EQ(c.Apply(0), 0);
        EXPECT_EQ(c.Apply(256), 256);
        for (int32_t t = 1; t <= 256; ++t) ASSERT_LE(c.Apply(t - 1), c.Apply(t)) << CurveText(c) << " at " << t;
    }
}

TEST(MorphTimingTest, CurveTextRoundTripsAndBadTextIsRefused) {
    using enum TCurveKind;
    for (const TTimingCurve& c : {Curve(Linear, 0, 0), Curve(EaseInOut, 0, 0), Curve(Linear, 30, 0),
                                  Curve(EaseInOut, 10, 80), Curve(Linear, 0, 90)})
        EXPECT_EQ(ParseCurve(CurveText(c)), c) << CurveText(c);
    EXPECT_EQ(ParseCurve("ease-in-out,lead=20,delay=5"), Curve(EaseInOut, 5, 20));

    for (const char* bad : {"", "cubic", "Linear", "linear,", "linear,delay", "linear,delay=", "linear,delay=x",
                            "linear,delay=5%", "linear,delay=91", "linear,lead=-1", "linear,delay=50,lead=41",
                            "linear,delay=1,delay=2", "linear,speed=3", "linear,delay=99999999999"})
        EXPECT_THROW(ParseCurve(bad), ECurveError) << "'" << bad << "'";
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(MorphTimingTest, TimingFileRoundTripsAndLinearTimingLeavesNoFile) {
    TempFolder dir;
    const std::string project = dir / "faces.grid";
    EXPECT_EQ(TimingFileName(project), dir / "faces.grid.json");
    const TMorphTiming timing{Curve(TCurveKind::EaseInOut, 0, 30), Curve(TCurveKind::Linear, 25, 5)};
    SaveTiming(project, timing);
    const TTimingLoad back = LoadTiming(project);
    EXPECT_EQ(back.Timing, timing);
    EXPECT_EQ(back.Note, "");

    SaveTiming(project, TMorphTiming{});
    EXPECT_FALSE(FileExists(TimingFileName(project)));
    const TTimingLoad none = LoadTiming(project);
    EXPECT_TRUE(none.Timing.IsLinear());
    EXPECT_EQ(none.Note, "");
}

TEST(MorphTimingTest, DamagedTimingFilesGiveLinearTimingAndANote) {
    const std::string good = R"({"format": "quorvalin-timing", "version": 1, )";
    const std::string damaged[] = {
        "",
        "not json at all",
        good,  // cut short
        R"({"format": "quorvalin-timing", "version": 2, "shape": {"curve": "linear", "delay": 10}})",
        R"({"format": "quorvalin-timing", "version": 99999999999999999999999})",
        R"({"format": "something else", "version": 1})",
        R"({"version": 1, "shape": {"curve": "ease-in-out"}})",
        R"([1, 2, 3])",
        good + R"("shape": {"curve": "bounce"}})",
        good + R"("shape": {"curve": "linear", "delay": "10"}})",
        good + R"("shape": {"curve": "linear", "delay": 1.5}})",
        good + R"("shape": 7})",
        good + R"("shape": {"curve": "linear"}} trailing)",
        std::string(70000, ' ') + "{}",
        std::string(40, '[') + std::string(40, ']'),
    };
    TempFolder dir;
    const std::string project = dir / "p.grid";
    for (const std::string& text : damaged) {
        WriteText(TimingFileName(project), text);
        const TTimingLoad got = LoadTiming(project);
        EXPECT_TRUE(got.Timing.IsLinear()) << text.substr(0, 80);
        EXPECT_NE(got.Note.find("linear timing"), std::string::npos) << text.substr(0, 80) << ": " << got.Note;
    }

    // Readable, but out of range: brought into range and noted.
    WriteText(TimingFileName(project), good + R"("shape": {"curve": "ease-in-out", "delay": 70, "lead": 400},
        "colour": {"curve": "linear", "delay": -5}, "future": [true, null, {"x": "\u00e9"}]})");
    const TTimingLoad clamped = LoadTiming(project);
    EXPECT_EQ(clamped.Timing.Shape, Curve(TCurveKind::EaseInOut, 70, 20));
    EXPECT_EQ(clamped.Timing.Colour, Curve(TCurveKind::Linear, 0, 0));
    EXPECT_NE(clamped.Note.find("brought into range"), std::string::npos) << clamped.Note;
}

// A picture rendered on white with the white laid band by band as it is drawn equals one
// filled white first and rendered after: exact and smooth, split timing, meshes folded and
// dragged outside (so that white shows), on one and two threads, into a new picture, one
// of another size and format, and one of the right size holding older pixels.
TEST(RenderOnWhiteTest, EqualsAWhiteFillThenTheRender) {
    struct Restore {
        ~Restore() { SetRenderThreads(0); }
    } restore;
    std::mt19937 rng(5);
    auto range = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    for (int iter = 0; iter < 48; ++iter) {
        const int32_t w = range(1, 90), h = range(1, 120);
        TMorphGrid g;
        testing::FillRandom(g.StartBmp, w, h, rng);
        testing::FillRandom(g.EndBmp, w, h, rng);
        g.StartBmp.RebuildRowTable();
        g.EndBmp.RebuildRowTable();
        g.SetPictureSize(Point(w, h));
        g.SetGridSize(Point(range(2, 6), range(2, 6)));
        for (int32_t i = 0; i < g.Cols; ++i)
            for (int32_t j = 0; j < g.Rows; ++j) {
                TPoint& pt = g.StartMesh[size_t(i)][size_t(j)];
                pt = {pt.X + range(-w / 2, w / 2), pt.Y + range(-h / 2, h / 2)};
            }
        TRenderOptions options;
        options.Smooth = iter % 2 == 1;
        if (iter % 3 == 0) options.Timing.Shape = ParseCurve("ease-in-out,lead=20");
        const int32_t t = range(0, 256);
        SetRenderThreads(1 + iter % 2);

        TBitmap expected;
        expected.SetPixelFormat(pf32bit);
        expected.SetSize(w, h);
        expected.Canvas().Brush.Color = clWhite;
        expected.Canvas().FillRect(Rect(0, 0, w, h));
        RenderMorphTimed(g, expected, t, options);

        TBitmap fresh, other, reused;
        testing::FillWith(other, w + 3, h + 1, 0x12345678u);
        other.SetPixelFormat(pf24bit);
        testing::FillRandom(reused, w, h, rng);
        for (TBitmap* b : {&fresh, &other, &reused}) {
            RenderOnWhite(g, *b, t, options);
            ASSERT_EQ(b->PixelFormat(), pf32bit);
            ASSERT_EQ(testing::Snapshot(*b), testing::Snapshot(expected))
                << "iteration " << iter << " smooth " << options.Smooth << " t " << t;
        }
    }
}

}  // namespace
}  // namespace qv
