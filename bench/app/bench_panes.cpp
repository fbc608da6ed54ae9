// Repainting a picture pane of a 4000 x 3000 picture at every zoom, as the window system asks
// for it: the part of the pane that is on screen (a 960 x 1000 viewport), picture and mesh.
// Also one step of a drag at 100 % (the grid moves the point and redraws its raster).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cstring>
#include <memory>
#include <random>

#include "app/GridOverlay.h"
#include "app/PaneView.h"
#include "app/PicturePane.h"
#include "morph/UMorph.h"

namespace {

constexpr int kW = 4000, kH = 3000;
const QSize kViewport(960, 1000);

QApplication& App()
{
    static int argc = 1;
    static char name[] = "quorvalin_app_bench";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QApplication>(argc, argv);
    }();
    return *app;
}

using qv::TMorphGrid;
using qv::TPicturePane;

struct TScene {
    TMorphGrid Grid;
    TPicturePane Pane;

    TScene()
    {
        std::mt19937 rng(1);
        for (qv::TBmp* b : {&Grid.StartBmp, &Grid.EndBmp}) {
            b->SetWidth(kW);
            b->SetHeight(kH);
            for (int y = 0; y < kH; ++y) {
                uint8_t* row = b->ScanLine(y);
                for (int x = 0; x < kW; ++x) {
                    const uint32_t v = rng();
                    std::memcpy(row + size_t(x) * 4, &v, 4);
                }
            }
        }
        Grid.SetPictureSize({kW, kH});
        Grid.SetGridSize({20, 20});
        Pane.SetControlSize(kW, kH);
        Pane.Picture().SetPixelFormat(qv::pf32bit);
        Pane.Picture().SetSize(kW, kH);
        Grid.DrawGrid(true, Pane.Picture());
        Pane.SetPlainPicture(&Grid.StartBmp);
        Pane.OnPaintOverlay = [this](QPainter& p, const QRect& dirty, double zoom) {
            qv::PaintGridOverlay(p, Grid, true, zoom, dirty);
        };
    }
};

TScene& Scene()
{
    App();
    static TScene scene;
    return scene;
}

// Zoom in percent (0 = fit the viewport); the view is centred on the picture.
void PaneRepaint(benchmark::State& state)
{
    TScene& s = Scene();
    const double zoom = state.range(0) == 0 ? qv::FitZoom(QSize(kW, kH), kViewport) : state.range(0) / 100.0;
    s.Pane.SetZoom(zoom);
    const QSize shown = qv::ScaledSize(QSize(kW, kH), zoom);
    const QRect visible = QRect(QPoint((shown.width() - kViewport.width()) / 2, (shown.height() - kViewport.height()) / 2),
                                kViewport)
                              .intersected(QRect(QPoint(0, 0), shown));
    QImage screen(kViewport, QImage::Format_RGB32);
    s.Pane.render(&screen, QPoint(), QRegion(visible));  // the halved copies, made once
    for (auto _ : state) {
        s.Pane.render(&screen, QPoint(), QRegion(visible));
        benchmark::DoNotOptimize(screen.constBits());
    }
    state.SetLabel(std::to_string(int(zoom * 1000) / 10.0).substr(0, 5) + " %");
}
BENCHMARK(PaneRepaint)->Arg(0)->Arg(33)->Arg(50)->Arg(67)->Arg(100)->Arg(150)->Arg(200)->Arg(400)->Arg(800)->Arg(1600)->Unit(benchmark::kMillisecond);

// The first repaint zoomed out after the picture changed: the halved copies are made.
void PaneFirstRepaintAtFit(benchmark::State& state)
{
    TScene& s = Scene();
    s.Pane.SetZoom(qv::FitZoom(QSize(kW, kH), kViewport));
    QImage screen(kViewport, QImage::Format_RGB32);
    for (auto _ : state) {
        s.Pane.PlainPictureChanged();
        s.Pane.render(&screen, QPoint(), QRegion(QRect(QPoint(0, 0), kViewport)));
        benchmark::DoNotOptimize(screen.constBits());
    }
}
BENCHMARK(PaneFirstRepaintAtFit)->Unit(benchmark::kMillisecond);

// One mouse move of a drag: the grid moves the point and redraws the pane's raster.
void DragStep(benchmark::State& state)
{
    TScene& s = Scene();
    s.Grid.SelCol = 5;
    s.Grid.SelRow = 5;
    int x = 1000;
    for (auto _ : state) {
        x = x == 1000 ? 1001 : 1000;
        s.Grid.GridMouseMove(true, s.Pane.Picture(), qv::TShiftState{qv::ssLeft}, x, 1000);
        benchmark::DoNotOptimize(s.Pane.Picture().ScanLine(0));
    }
}
BENCHMARK(DragStep)->Unit(benchmark::kMillisecond);

}  // namespace
