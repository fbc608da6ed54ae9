#include "morph/MorphTiming.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "framework/Stream.h"
#include "framework/System.h"
#include "morph/Bmp_.h"
#include "morph/SmoothWarp.h"
#include "morph/UMorph.h"

namespace qv {

namespace {

constexpr std::string_view kLinear = "linear", kEase = "ease-in-out";
constexpr std::string_view kFormat = "quorvalin-timing";
constexpr int64_t kTimingVersion = 1;
// A timing file is a few hundred bytes; anything much larger is not one.
constexpr int64_t kMaxTimingFileSize = 64 * 1024;

std::string_view KindName(TCurveKind k) { return k == TCurveKind::EaseInOut ? kEase : kLinear; }

bool KindFromName(std::string_view name, TCurveKind& kind) {
    if (name == kLinear)
        kind = TCurveKind::Linear;
    else if (name == kEase)
        kind = TCurveKind::EaseInOut;
    else
        return false;
    return true;
}

}  // namespace

std::string TTimingCurve::RangeError() const {
    if (Delay < 0 || Delay > kMaxDelayAndLead)
        return "the delay must be from 0 to " + std::to_string(kMaxDelayAndLead) + " percent, not " +
               std::to_string(Delay);
    if (Lead < 0 || Lead > kMaxDelayAndLead)
        return "the lead must be from 0 to " + std::to_string(kMaxDelayAndLead) + " percent, not " +
               std::to_string(Lead);
    if (Delay + Lead > kMaxDelayAndLead)
        return "the delay and the lead together must be at most " + std::to_string(kMaxDelayAndLead) +
               " percent, not " + std::to_string(Delay + Lead);
    return {};
}

TTimingCurve TTimingCurve::Clamped(bool* changed) const {
    TTimingCurve c = *this;
    c.Delay = std::clamp(c.Delay, 0, kMaxDelayAndLead);
    c.Lead = std::clamp(c.Lead, 0, kMaxDelayAndLead - c.Delay);
    if (changed) *changed = !(c == *this);
    return c;
}

int32_t TTimingCurve::Apply(int32_t t) const {
    t = std::clamp(t, 0, 256);
    if (IsLinear()) return t;
    const TTimingCurve c = Clamped();
    const double start = c.Delay / 100.0, span = 1.0 - (c.Delay + c.Lead) / 100.0;
    double u = std::clamp((t / 256.0 - start) / span, 0.0, 1.0);
    if (c.Kind == TCurveKind::EaseInOut) u = u * u * (3.0 - 2.0 * u);
    return int32_t(std::lround(u * 256.0));
}

std::string CurveText(const TTimingCurve& curve) {
    std::string s(KindName(curve.Kind));
    if (curve.Delay != 0) s += ",delay=" + std::to_string(curve.Delay);
    if (curve.Lead != 0) s += ",lead=" + std::to_string(curve.Lead);
    return s;
}

TTimingCurve ParseCurve(const std::string& text) {
    std::vector<std::string_view> parts;
    std::string_view rest(text);
    for (size_t comma; (comma = rest.find(',')) != std::string_view::npos; rest.remove_prefix(comma + 1))
        parts.push_back(rest.substr(0, comma));
    parts.push_back(rest);
    TTimingCurve c;
    if (!KindFromName(parts[0], c.Kind))
        throw ECurveError("unknown curve '" + std::string(parts[0]) + "' (linear or ease-in-out)");
    bool haveDelay = false, haveLead = false;
    for (size_t k = 1; k < parts.size(); ++k) {
        const std::string_view part = parts[k];
        const size_t eq = part.find('=');
        const std::string_view name = part.substr(0, eq);
        bool* seen = name == "delay" ? &haveDelay : name == "lead" ? &haveLead : nullptr;
        if (seen == nullptr || eq == std::string_view::npos)
            throw ECurveError("unknown curve setting '" + std::string(part) + "' (delay=N or lead=N)");
        if (*seen) throw ECurveError("the curve sets " + std::string(name) + " twice");
        *seen = true;
        const std::string_view value = part.substr(eq + 1);
        int32_t v = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size())
            throw ECurveError("the curve's " + std::string(name) + " must be a whole number of percent, not '" +
                              std::string(value) + "'");
        (name == "delay" ? c.Delay : c.Lead) = v;
    }
    if (const std::string error = c.RangeError(); !error.empty()) throw ECurveError(error);
    return c;
}

void RenderMorphTimed(TMorphGrid& Grid, TBitmap& Dest, int32_t t, const TRenderOptions& Options) {
    RenderMorphSplit(Grid, Dest, Options.Timing.ShapePosition(t), Options.Timing.ColourPosition(t), Options.Smooth);
}

void RenderOnWhite(TMorphGrid& Grid, TBitmap& Dest, int32_t t, const TRenderOptions& Options) {
    // White as a 32-bit raster holds it: the fourth byte 0, as every drawing leaves it.
    constexpr uint32_t kWhite = 0x00FFFFFF;
    if (Dest.PixelFormat() != pf32bit || Dest.Width() != Grid.PictureWidth || Dest.Height() != Grid.PictureHeight) {
        Dest.ReleaseHandle();  // nothing of the old pixels is kept: no conversion of them
        Dest.SetPixelFormat(pf32bit);
        Dest.SetSizeForDecoding(Grid.PictureWidth, Grid.PictureHeight);
        if (auto* fast = dynamic_cast<TBmpFast*>(&Dest)) fast->RebuildRowTable();
    }
    RenderMorphSplit(Grid, Dest, Options.Timing.ShapePosition(t), Options.Timing.ColourPosition(t), Options.Smooth,
                     &kWhite);
    Dest.Changed();
}

std::string TimingFileName(const std::string& projectFileName) { return projectFileName + ".json"; }

namespace {

// The little JSON the timing file needs: objects, arrays, strings, whole numbers,
// true, false and null. Nesting and size are bounded; a fault names what was expected.
struct TJson {
    enum class TKind { Null, Bool, Number, String, Array, Object } Kind = TKind::Null;
    int64_t Number = 0;
    bool NumberFits = true;  // a number outside 64 bits reads as not fitting
    std::string String;
    std::map<std::string, TJson> Members;
};

class TJsonReader {
public:
    explicit TJsonReader(std::string_view text) : FText(text) {}

    TJson Document() {
        TJson v = Value(0);
        SkipSpace();
        if (FPos != FText.size()) Fail("text after the end");
        return v;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw Exception("not a timing file (" + what + " at byte " + std::to_string(FPos) + ")");
    }
    void SkipSpace() {
        while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\n' ||
                                       FText[FPos] == '\r'))
            ++FPos;
    }
    bool Take(char c) {
        SkipSpace();
        if (FPos < FText.size() && FText[FPos] == c) {
            ++FPos;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Take(c)) Fail(std::string("'") + c + "' expected");
    }
    bool Word(std::string_view w) {
        if (FText.substr(FPos, w.size()) != w) return false;
        FPos += w.size();
        return true;
    }

    TJson Value(int depth) {
        if (depth > 16) Fail("nesting too deep");
        SkipSpace();
        if (FPos >= FText.size()) Fail("a value expected");
        TJson v;
        const char c = FText[FPos];
        if (c == '{') {
            ++FPos;
            v.Kind = TJson::TKind::Object;
            if (Take('}')) return v;
            do {
                SkipSpace();
                if (FPos >= FText.size() || FText[FPos] != '"') Fail("a member name expected");
                std::string name = String();
                Expect(':');
                v.Members[std::move(name)] = Value(depth + 1);
            } while (Take(','));
            Expect('}');
        } else if (c == '[') {
            ++FPos;
            v.Kind = TJson::TKind::Array;
            if (Take(']')) return v;
            do Value(depth + 1);
            while (Take(','));
            Expect(']');
        } else if (c == '"') {
            v.Kind = TJson::TKind::String;
            v.String = String();
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            v.Kind = TJson::TKind::Number;
            const size_t start = FPos;
            if (FText[FPos] == '-') ++FPos;
            while (FPos < FText.size() && ((FText[FPos] >= '0' && FText[FPos] <= '9') || FText[FPos] == '.' ||
                                           FText[FPos] == 'e' || FText[FPos] == 'E' || FText[FPos] == '+' ||
                                           FText[FPos] == '-'))
                ++FPos;
            const std::string_view digits = FText.substr(start, FPos - start);
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v.Number);
            if (ec == std::errc::result_out_of_range)
                v.NumberFits = false;
            else if (ec != std::errc() || end != digits.data() + digits.size())
                Fail("a whole number expected");
        } else if (Word("true") || Word("false")) {
            v.Kind = TJson::TKind::Bool;
        } else if (Word("null")) {
            v.Kind = TJson::TKind::Null;
        } else {
            Fail("a value expected");
        }
        return v;
    }

    std::string String() {
        ++FPos;  // the opening quote
        std::string out;
        while (true) {
            if (FPos >= FText.size()) Fail("an unterminated string");
            const char c = FText[FPos++];
            if (c == '"') return out;
            if (uint8_t(c) < 0x20) Fail("a control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (FPos >= FText.size()) Fail("an unterminated string");
            const char e = FText[FPos++];
            switch (e) {
                case '"': case '\\': case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u':
                    // Names and values of the timing file are plain ASCII; any other
                    // character only has to be skipped correctly.
                    if (FPos + 4 > FText.size()) Fail("a bad \\u escape");
                    FPos += 4;
                    out += '?';
                    break;
                default: Fail("a bad escape");
            }
        }
    }

    std::string_view FText;
    size_t FPos = 0;
};

const TJson* Member(const TJson& object, const std::string& name) {
    const auto it = object.Members.find(name);
    return it == object.Members.end() ? nullptr : &it->second;
}

// One curve object. Missing settings are 0; a wrong type is a damaged file.
TTimingCurve CurveFrom(const TJson* v, const std::string& which) {
    TTimingCurve c;
    if (v == nullptr) return c;  // a curve left out is linear
    if (v->Kind != TJson::TKind::Object) throw Exception("the " + which + " curve is not an object");
    if (const TJson* kind = Member(*v, "curve")) {
        if (kind->Kind != TJson::TKind::String || !KindFromName(kind->String, c.Kind))
            throw Exception("the " + which + " curve has an unknown kind");
    }
    for (auto [name, field] : {std::pair{"delay", &c.Delay}, {"lead", &c.Lead}}) {
        const TJson* n = Member(*v, name);
        if (n == nullptr) continue;
        if (n->Kind != TJson::TKind::Number) throw Exception("the " + which + " curve's " + name + " is not a number");
        // Far out of range is still out of range: clamped to the 32-bit ends, then noted.
        *field = n->NumberFits ? int32_t(std::clamp<int64_t>(n->Number, INT32_MIN, INT32_MAX))
                               : (n->Number < 0 ? INT32_MIN : INT32_MAX);
    }
    return c;
}

std::string ReadWholeFile(const std::string& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
    const int64_t size = f.Size();
    if (size > kMaxTimingFileSize)
        throw Exception("the file is " + std::to_string(size) + " bytes long, too long for a timing file");
    std::string text(size_t(size), '\0');
    f.ReadBuffer(text.data(), size);
    return text;
}

}  // namespace

TTimingLoad LoadTiming(const std::string& projectFileName) {
    const std::string file = TimingFileName(projectFileName);
    TTimingLoad result;
    if (!FileExists(file)) return result;
    try {
        const TJson doc = TJsonReader(ReadWholeFile(file)).Document();
        if (doc.Kind != TJson::TKind::Object) throw Exception("not a timing file");
        const TJson* format = Member(doc, "format");
        if (format == nullptr || format->Kind != TJson::TKind::String || format->String != kFormat)
            throw Exception("not a timing file");
        const TJson* version = Member(doc, "version");
        if (version == nullptr || version->Kind != TJson::TKind::Number)
            throw Exception("the file has no version");
        if (!version->NumberFits || version->Number != kTimingVersion)
            throw Exception("the file is of version " +
                            (version->NumberFits ? std::to_string(version->Number) : std::string("(too large)")) +
                            ", this program reads version " + std::to_string(kTimingVersion));
        TMorphTiming t{CurveFrom(Member(doc, "shape"), "shape"), CurveFrom(Member(doc, "colour"), "colour")};
        bool shapeChanged = false, colourChanged = false;
        const TMorphTiming clamped{t.Shape.Clamped(&shapeChanged), t.Colour.Clamped(&colourChanged)};
        if (shapeChanged || colourChanged)
            result.Note = "The timing file " + file + " has a curve out of range (" +
                          (shapeChanged ? t.Shape.RangeError() : t.Colour.RangeError()) +
                          "); it was brought into range: shape " + CurveText(clamped.Shape) + ", colour " +
                          CurveText(clamped.Colour) + ".";
        result.Timing = clamped;
    } catch (const std::exception& e) {
        result.Timing = {};
        result.Note = "The timing file " + file + " cannot be used: " + e.what() +
                      ". The project opens with linear timing.";
    }
    return result;
}

void SaveTiming(const std::string& projectFileName, const TMorphTiming& timing) {
    const std::string file = TimingFileName(projectFileName);
    if (timing.IsLinear()) {
        if (FileExists(file) && !DeleteFile(file))
            throw EFCreateError("Cannot remove the old timing file " + file);
        return;
    }
    auto curve = [](const TTimingCurve& c) {
        return "{\"curve\": \"" + std::string(KindName(c.Kind)) + "\", \"delay\": " + std::to_string(c.Delay) +
               ", \"lead\": " + std::to_string(c.Lead) + "}";
    };
    const std::string text = "{\n  \"format\": \"" + std::string(kFormat) + "\",\n  \"version\": " +
                             std::to_string(kTimingVersion) + ",\n  \"shape\": " + curve(timing.Shape) +
                             ",\n  \"colour\": " + curve(timing.Colour) + "\n}\n";
    WriteFileReplacing(file, [&](TStream& s) { s.WriteBuffer(text.data(), int64_t(text.size())); });
}

}  // namespace qv
