// Smooth preview and the Timing panel: the preview renders with them, projects carry the
// timing in their timing file, and values out of range are brought into range with a note.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <fstream>

#include "EditorFixture.h"
#include "app/ExportVideoDialog.h"
#include "app/TimingPanel.h"
#include "morph/MorphTiming.h"
#include "morph/SmoothWarp.h"

namespace qv::test {

// The timed render at a position over white, as the preview shows it.
std::unique_ptr<TBitmap> TimedOnWhite(TMorphGrid& grid, int position, const TRenderOptions& options)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf32bit);
    b->SetSize(grid.PictureWidth, grid.PictureHeight);
    b->Canvas().Brush.Color = clWhite;
    b->Canvas().FillRect(Rect(0, 0, b->Width(), b->Height()));
    RenderMorphTimed(grid, *b, position, options);
    return b;
}

class TimingEditorTest : public EditorTest {
protected:
    // Point [1][1] of the start mesh as the project file has it.
    static TPoint LoadedMeshPoint(const std::string& project)
    {
        TMorphGrid g;
        g.LoadGridFile(project);
        return g.StartMesh[1][1];
    }
    // Two pictures and a moved point, saved as a project.
    std::string MakeProject()
    {
        OpenStart(MakePicture("a.bmp", 48, 36, 1));
        OpenEnd(MakePicture("b.bmp", 48, 36, 2));
        Grid().StartMesh[1][1] = Point(Grid().StartMesh[1][1].X + 6, Grid().StartMesh[1][1].Y - 4);
        const std::string project = PathOf("p.grid");
        Dialogs.Answers.push_back(project);
        Act("Saveproject1")->trigger();
        return project;
    }
    void Open(const std::string& project)
    {
        Dialogs.Answers.push_back(project);
        Act("Openproject1")->trigger();
    }
    // The preview's picture at its slider against the engine's timed render; pixels that differ.
    int Mismatch(const TRenderOptions& options)
    {
        return DifferentPixels(*TimedOnWhite(Grid(), Tbpos()->value(), options), PreviewImage()->Picture());
    }
};

TEST(TimingPanelTest, OutOfRangeValuesAreBroughtIntoRangeWithANote)
{
    TTimingPanel panel(nullptr);
    EXPECT_TRUE(panel.Timing().IsLinear());
    EXPECT_TRUE(panel.LblTimingNote->isHidden());
    int changes = 0;
    panel.OnChange = [&] { ++changes; };

    panel.SetTiming({{TCurveKind::EaseInOut, 70, 400}, {TCurveKind::Linear, -5, 10}});
    EXPECT_EQ(panel.Timing().Shape, (TTimingCurve{TCurveKind::EaseInOut, 70, 20}));
    EXPECT_EQ(panel.Timing().Colour, (TTimingCurve{TCurveKind::Linear, 0, 10}));
    EXPECT_FALSE(panel.LblTimingNote->isHidden());
    EXPECT_TRUE(panel.LblTimingNote->text().contains("shape")) << panel.LblTimingNote->text().toStdString();
    EXPECT_EQ(changes, 0);

    // The user raises the colour delay past what the lead leaves: the lead gives way.
    panel.SeColourDelay->setValue(85);
    EXPECT_EQ(panel.Timing().Colour, (TTimingCurve{TCurveKind::Linear, 85, 5}));
    EXPECT_TRUE(panel.LblTimingNote->text().contains("lead is now 5")) << panel.LblTimingNote->text().toStdString();
    EXPECT_EQ(changes, 1);
    panel.CbColourCurve->setCurrentIndex(1);
    EXPECT_EQ(panel.Timing().Colour.Kind, TCurveKind::EaseInOut);
    EXPECT_TRUE(panel.LblTimingNote->isHidden());
    EXPECT_EQ(changes, 2);
}

TEST_F(TimingEditorTest, VideoExportSamplesSmoothlyUnlessTurnedOff)
{
    TExportVideoDialog dialog(&Main(), Dialogs);
    EXPECT_TRUE(dialog.CbSmooth->isChecked());
    EXPECT_TRUE(dialog.Settings().Render.Smooth);
    dialog.CbSmooth->setChecked(false);
    EXPECT_FALSE(dialog.Settings().Render.Smooth);
    TVideoSettings chosen;
    chosen.Render.Smooth = true;
    dialog.SetChoice(TVideoFormat::Gif, chosen);
    EXPECT_TRUE(dialog.CbSmooth->isChecked());
}

TEST_F(TimingEditorTest, PreviewFollowsSmoothSamplingAndTheTimingPanel)
{
    MakeProject();
    Tbpos()->setValue(90);
    EXPECT_EQ(Mismatch({}), 0);

    Act("Smoothpreview1")->trigger();
    ASSERT_TRUE(Act("Smoothpreview1")->isChecked());
    TRenderOptions smooth;
    smooth.Smooth = true;
    EXPECT_EQ(Mismatch(smooth), 0);
    EXPECT_GT(Mismatch({}), 0);

    Preview().TimingPanel().CbShapeCurve->setCurrentIndex(1);
    Preview().TimingPanel().SeColourLead->setValue(40);
    smooth.Timing = {{TCurveKind::EaseInOut, 0, 0}, {TCurveKind::Linear, 0, 40}};
    EXPECT_EQ(Preview().RenderOptions().Timing, smooth.Timing);
    EXPECT_EQ(Mismatch(smooth), 0);

    Act("Smoothpreview1")->trigger();
    smooth.Smooth = false;
    EXPECT_EQ(Mismatch(smooth), 0);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(TimingEditorTest, ProjectsKeepTheirTimingBesideThem)
{
    const std::string project = MakeProject();
    EXPECT_FALSE(FileExists(TimingFileName(project)));  // linear: the project alone
    EXPECT_FALSE(Main().IsModified());

    // A timing change is a change to the project: it is saved beside it.
    const TMorphTiming timing{{TCurveKind::Linear, 0, 25}, {TCurveKind::EaseInOut, 25, 0}};
    Preview().TimingPanel().SetTiming({{TCurveKind::Linear, 0, 0}, timing.Colour});  // shown, not yet used
    EXPECT_FALSE(Main().IsModified());
    Preview().TimingPanel().SeShapeLead->setValue(25);  // as a user would: through a control
    EXPECT_TRUE(Main().IsModified());
    Act("Save1")->trigger();
    EXPECT_FALSE(Main().IsModified());
    EXPECT_EQ(LoadTiming(project).Timing, timing);

    // Opened again, from a linear state: the timing comes back and the preview shows it.
    Preview().SetTiming({});
    Dialogs.SaveAnswers.push_back(TSaveAnswer::Discard);
    Open(project);
    EXPECT_EQ(Preview().RenderOptions().Timing, timing);
    EXPECT_FALSE(Main().IsModified());
    EXPECT_EQ(Mismatch({timing, false}), 0);
    EXPECT_TRUE(Dialogs.Messages.empty());

    // A damaged timing file: a message, linear timing, and the project itself opens.
    std::ofstream(TimingFileName(project), std::ios::trunc) << "{\"format\": \"quorvalin-timing\", \"version\": 7}";
    Open(project);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_NE(Dialogs.Messages[0].find("linear timing"), std::string::npos) << Dialogs.Messages[0];
    EXPECT_TRUE(Preview().RenderOptions().Timing.IsLinear());
    EXPECT_EQ(Grid().StartMesh[1][1], LoadedMeshPoint(project));

    // Saving with linear timing removes the timing file again.
    Act("Save1")->trigger();
    EXPECT_FALSE(FileExists(TimingFileName(project)));
}

}  // namespace qv::test
