#include "app/FrmPlay.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QHideEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include "app/ErrorGuard.h"
#include "app/PaneView.h"
#include "app/PicturePane.h"
#include "app/QtOwn.h"
#include "app/TimingPanel.h"
#include "framework/System.h"
#include "morph/UMorph.h"

namespace qv {

namespace {
// Panel1 as designed: 373 wide inside the 381-wide window; the slider and the duration
// controls keep their distances to the panel's right edge when the window is resized.
constexpr int kDesignPanelWidth = 373;
constexpr int kPanelHeight = 48;
constexpr int kTbposLeft = 48, kTbposTop = 16, kTbposDesignWidth = 241;
constexpr int kDurationLeft = 304;
// Narrower than this and the slider, the play button or the duration box would be cut off.
constexpr int kMinWindowWidth = 240;
// The window frame before the window system has told us its size (Xvfb without a window
// manager never does): a title bar and borders of the usual size.
constexpr QSize kGuessedFrame(16, 40);
// The play button's glyph: a right-pointing triangle.
QIcon PlayGlyph()
{
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 90, 0), 1));
    p.setBrush(QColor(0, 160, 0));
    const QPointF triangle[] = {QPointF(2.5, 1.5), QPointF(12.5, 7), QPointF(2.5, 12.5)};
    p.drawPolygon(triangle, 3);
    return QIcon(pixmap);
}

// The stop glyph shown while playing: a square.
QIcon StopGlyph()
{
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(110, 0, 0), 1));
    p.setBrush(QColor(190, 0, 0));
    p.drawRect(QRectF(2.5, 2.5, 9, 9));
    return QIcon(pixmap);
}

// About sixty frames a second; a frame that takes longer only delays the next.
constexpr int kPlayIntervalMs = 16;

}  // namespace

int PlayPosition(uint32_t elapsedMs, int durationMs)
{
    if (durationMs <= 0)
        return 255;
    const uint64_t p = uint64_t(elapsedMs) * 255u / uint64_t(durationMs);
    return p > 255 ? 255 : int(p);
}

TFPreview::TFPreview(IDialogs& dialogs) : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint),
                                           FDialogs(dialogs)
{
    setObjectName("FPreview");
    setWindowTitle("Preview");

    auto* layout = Own<QVBoxLayout>(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Image1 = Own<TPicturePane>(this);
    Image1->setObjectName("Image1");
    Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    Image1->SetFitToWidget(true);
    layout->addWidget(Image1, 1);

    Panel1 = Own<QFrame>(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setFixedHeight(kPanelHeight);
    Panel1->setMinimumWidth(0);
    layout->addWidget(Panel1);

    SpeedButton1 = Own<QToolButton>(Panel1);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setIcon(PlayGlyph());
    SpeedButton1->setIconSize(QSize(14, 14));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setToolTip("Play");
    SpeedButton1->setGeometry(16, 14, 23, 22);

    Label2 = Own<QLabel>("Morph position", Panel1);
    Label2->setObjectName("Label2");
    Label2->move(56, 0);

    Tbpos = Own<QSlider>(Qt::Horizontal, Panel1);
    Tbpos->setObjectName("Tbpos");
    Tbpos->setRange(0, 255);
    Tbpos->setTickInterval(8);
    Tbpos->setTickPosition(QSlider::TicksBelow);
    Tbpos->setSingleStep(1);
    Tbpos->setPageStep(2);
    Tbpos->setValue(128);

    Label1 = Own<QLabel>("Duration (ms)", Panel1);
    Label1->setObjectName("Label1");

    SeDuration = Own<QSpinBox>(Panel1);
    SeDuration->setObjectName("SeDuration");
    SeDuration->setRange(10, 10000);
    SeDuration->setValue(3000);

    PnlTiming = Own<TTimingPanel>(this);
    // A narrow picture makes a narrow window: the panel is then cut off rather than
    // widening the picture area.
    PnlTiming->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    PnlTiming->setMinimumWidth(0);
    PnlTiming->OnChange = [this] {
        FOptions.Timing = PnlTiming->Timing();
        Guarded(FDialogs, [this] { TbposChange(); });
        if (OnTimingChange)
            OnTimingChange();
    };
    layout->addWidget(PnlTiming);

    Panel1->installEventFilter(this);
    setMinimumSize(kMinWindowWidth, kPanelHeight + PnlTiming->sizeHint().height() + 16);
    // The picture area keeps its designed size above the panels.
    resize(381, 369 + PnlTiming->sizeHint().height());
    move(429, 322);
    PlacePanelControls();

    FPlayTimer = Own<QTimer>(this);
    FPlayTimer->setInterval(kPlayIntervalMs);
    Clock = [] { return GetTickCount(); };

    QObject::connect(Tbpos, &QSlider::valueChanged, this,
                     [this](int) { Guarded(FDialogs, [this] { TbposChange(); }); });
    // A hand on the slider stops playback; the slider then shows the frame it was on.
    QObject::connect(Tbpos, &QSlider::actionTriggered, this, [this](int) { Stop(); });
    QObject::connect(Tbpos, &QSlider::sliderPressed, this, [this] { Stop(); });
    QObject::connect(SpeedButton1, &QToolButton::clicked, this,
                     [this] { Guarded(FDialogs, [this] { SpeedButton1Click(); }); });
    QObject::connect(FPlayTimer, &QTimer::timeout, this, [this] { Guarded(FDialogs, [this] { AdvancePlayback(); }); });
    auto* space = Own<QShortcut>(QKeySequence(Qt::Key_Space), this);
    QObject::connect(space, &QShortcut::activated, this, [this] { Guarded(FDialogs, [this] { SpeedButton1Click(); }); });
    auto* escape = Own<QShortcut>(QKeySequence(Qt::Key_Escape), this);
    QObject::connect(escape, &QShortcut::activated, this, [this] { Stop(); });
}

TFPreview::~TFPreview() = default;

void TFPreview::PlacePanelControls()
{
    const int w = Panel1->width();
    const int rightGap = kDesignPanelWidth - (kTbposLeft + kTbposDesignWidth);
    // The slider is 45 high in the design; only the part inside the 48-high panel shows, so
    // it is made exactly that high here and the ticks stay visible.
    Tbpos->setGeometry(kTbposLeft, kTbposTop, std::max(0, w - kTbposLeft - rightGap),
                       kPanelHeight - kTbposTop);
    const int durationX = w - (kDesignPanelWidth - kDurationLeft);
    // A narrow window (a small picture) would cut the label off at the right edge: it then
    // ends at the edge instead.
    Label1->adjustSize();
    Label1->move(std::max(0, std::min(durationX, w - Label1->width() - 4)), 0);
    SeDuration->setGeometry(durationX, 16, 57, 22);
}

bool TFPreview::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Panel1 && event->type() == QEvent::Resize)
        PlacePanelControls();
    return QWidget::eventFilter(watched, event);
}

void TFPreview::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    SizeChanged();
}

void TFPreview::hideEvent(QHideEvent* event)
{
    Stop();  // nobody watches a closed window
    QWidget::hideEvent(event);
}

void TFPreview::SizeChanged()
{
    if (layout())
        layout()->setGeometry(rect());
    if (size() == FFormSize)
        return;
    FFormSize = size();
    Guarded(FDialogs, [this] { FormResize(); });
}

void TFPreview::FitPictureArea(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    TBitmap& picture = Image1->Picture();
    // The same size again (every edit refreshes): the window keeps the size the user gave it.
    if (picture.Width() == width && picture.Height() == height && picture.PixelFormat() == pf32bit)
        return;
    picture.SetPixelFormat(pf32bit);
    picture.SetWidth(width);
    picture.SetHeight(height);
    picture.Canvas().Brush.Color = clWhite;
    picture.Canvas().Brush.Style = bsSolid;
    picture.Canvas().FillRect(Rect(0, 0, picture.Width(), picture.Height()));

    SizeChanged();  // Image1 must reflect the window's present size before we measure
    const QSize chrome = size() - Image1->size();
    const QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect available = where ? where->availableGeometry() : QRect(0, 0, 1 << 14, 1 << 14);
    QSize frame = frameGeometry().size() - size();
    if (frame.isEmpty())
        frame = kGuessedFrame;
    const QSize room = available.size() - frame - chrome;
    QSize area(width, height);
    if (width > room.width() || height > room.height())
        area = ScaledSize(area, FitZoom(area, room));
    const QSize target(std::max(area.width() + chrome.width(), kMinWindowWidth), area.height() + chrome.height());
    if (target != size()) {
        resize(target);
        // A hidden window gets no resize event until it is shown again; a shown one may get
        // it later from the window system. Either way the layout follows now.
        SizeChanged();
    }
    // Grown near the screen's edge, the window is moved back inside the available area.
    const QRect outer(pos(), size() + frame);
    QPoint inside = outer.topLeft();
    inside.setX(std::max(available.left(), std::min(inside.x(), available.right() + 1 - outer.width())));
    inside.setY(std::max(available.top(), std::min(inside.y(), available.bottom() + 1 - outer.height())));
    if (inside != pos())
        move(inside);
    Image1->update();
}

void TFPreview::FormResize()
{
    Image1->update();
}

int TFPreview::Position() const
{
    return Tbpos->value();
}

void TFPreview::ShowPosition(int position)
{
    {
        const QSignalBlocker quiet(Tbpos);  // one render, not two
        Tbpos->setValue(position);
    }
    TbposChange();
}

const TBitmap& TFPreview::Picture() const
{
    return Image1->Picture();
}

int TFPreview::Duration() const
{
    return SeDuration->value();
}

void TFPreview::SetDuration(int milliseconds)
{
    SeDuration->setValue(milliseconds);
}

void TFPreview::SetSmooth(bool smooth)
{
    FOptions.Smooth = smooth;
    TbposChange();
}

void TFPreview::SetTiming(const TMorphTiming& timing, const std::string& note)
{
    PnlTiming->SetTiming(timing, note);
    FOptions.Timing = PnlTiming->Timing();  // brought into range
    TbposChange();
}

void TFPreview::TbposChange()
{
    if (!FGrid)
        return;
    // On white, so that what a folded mesh leaves uncovered is not left over from an
    // earlier picture: the preview shows the project as it is, whatever came before.
    TBitmap& picture = Image1->Picture();
    picture.Canvas().Brush.Color = clWhite;
    picture.Canvas().Brush.Style = bsSolid;
    picture.Canvas().FillRect(Rect(0, 0, picture.Width(), picture.Height()));
    RenderMorphTimed(*FGrid, picture, Tbpos->value(), FOptions);
    Image1->repaint();
}

void TFPreview::SpeedButton1Click()
{
    if (IsPlaying())
        Stop();
    else
        Play();
}

bool TFPreview::IsPlaying() const
{
    return FPlayTimer->isActive();
}

void TFPreview::Play()
{
    if (IsPlaying())
        return;
    FPlayStart = Clock();
    SpeedButton1->setIcon(StopGlyph());
    SpeedButton1->setToolTip("Stop");
    FPlayTimer->start();
    AdvancePlayback();  // the first frame now, at position 0
}

void TFPreview::Stop()
{
    if (!IsPlaying())
        return;
    FPlayTimer->stop();
    SpeedButton1->setIcon(PlayGlyph());
    SpeedButton1->setToolTip("Play");
}

void TFPreview::AdvancePlayback()
{
    if (!IsPlaying())
        return;
    const uint32_t elapsed = Clock() - FPlayStart;  // unsigned: right across a wrap of the counter
    const int duration = SeDuration->value();
    ShowPosition(PlayPosition(elapsed, duration));
    if (elapsed >= uint32_t(duration))
        Stop();
}

}  // namespace qv
