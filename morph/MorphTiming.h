#pragma once
// Timing of a morph: the slider (or movie time) position drives a shape position (the
// mesh) and a colour position (the dissolve), each through its own curve, so that the
// motion can ease in and out and the shape can change ahead of or behind the colour.
// Timings other than linear are kept in a small file beside the project
// ("NAME.grid.json"), so that the project file itself keeps its layout.
#include <cstdint>
#include <string>

#include "framework/Exceptions.h"
#include "framework/Graphics.h"

namespace qv {

class TMorphGrid;

enum class TCurveKind { Linear, EaseInOut };

// Delay: the share of the transition (percent) that passes before the change starts;
// Lead: the share left after it is complete. The change itself keeps at least
// 100 - kMaxDelayAndLead percent, so that it never becomes a jump.
constexpr int32_t kMaxDelayAndLead = 90;

struct TTimingCurve {
    TCurveKind Kind = TCurveKind::Linear;
    int32_t Delay = 0;
    int32_t Lead = 0;

    bool IsLinear() const { return Kind == TCurveKind::Linear && Delay == 0 && Lead == 0; }
    // Empty when the parameters are in range, else what is wrong.
    std::string RangeError() const;
    // The nearest curve in range (Delay kept first); changed tells whether it differs.
    TTimingCurve Clamped(bool* changed = nullptr) const;
    // The position (0 .. 256) at slider position t (0 .. 256, clamped); linear gives t.
    int32_t Apply(int32_t t) const;

    friend bool operator==(const TTimingCurve&, const TTimingCurve&) = default;
};

// "linear", "ease-in-out", optionally followed by ",delay=N" and ",lead=N" (percent).
std::string CurveText(const TTimingCurve& curve);
// The reverse of CurveText; ECurveError names what it cannot read or what is out of range.
class ECurveError : public Exception {
    using Exception::Exception;
};
TTimingCurve ParseCurve(const std::string& text);

struct TMorphTiming {
    TTimingCurve Shape;
    TTimingCurve Colour;

    bool IsLinear() const { return Shape.IsLinear() && Colour.IsLinear(); }
    int32_t ShapePosition(int32_t t) const { return Shape.Apply(t); }
    int32_t ColourPosition(int32_t t) const { return Colour.Apply(t); }

    friend bool operator==(const TMorphTiming&, const TMorphTiming&) = default;
};

// How an in-between picture is made: its timing and its sampling.
struct TRenderOptions {
    TMorphTiming Timing;
    bool Smooth = false;
};

// The in-between picture at slider position t with these options (RenderMorphSplit at
// the timing's shape and colour positions): the preview, a saved picture and a movie
// frame all come from here, so they agree.
void RenderMorphTimed(TMorphGrid& Grid, TBitmap& Dest, int32_t t, const TRenderOptions& Options);

// RenderMorphTimed into a picture of the grid's size, 32-bit, white where no triangle
// draws: what is saved and what a movie frame shows. Each band of rows is filled white
// where it is drawn, so a new picture costs no pass of its own; a picture that already
// has the size and format keeps its storage.
void RenderOnWhite(TMorphGrid& Grid, TBitmap& Dest, int32_t t, const TRenderOptions& Options);

// The timing file of a project: the project's name with ".json" added.
std::string TimingFileName(const std::string& projectFileName);

// What reading a timing file gave: the timing (linear when there is no file or it cannot
// be used) and a note for the user when something was wrong (empty otherwise).
struct TTimingLoad {
    TMorphTiming Timing;
    std::string Note;
};
// Reads the timing file of a project. Never throws for the file's content: a damaged
// file or one of an unknown version gives linear timing and a note; curves out of range
// are clamped and noted.
TTimingLoad LoadTiming(const std::string& projectFileName);
// Writes the timing file of a project (replacing the old one only by a complete file), or
// removes it when the timing is linear, so that the project alone says everything.
void SaveTiming(const std::string& projectFileName, const TMorphTiming& timing);

}  // namespace qv
