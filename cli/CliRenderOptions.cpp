#include "cli/CliRenderOptions.h"

#include <ostream>

namespace qv {

const std::vector<std::string_view> kRenderValueOptions = {"--shape-curve", "--colour-curve"};
const std::vector<std::string_view> kRenderFlagOptions = {"--smooth"};

namespace {

// The last value given for an option, or null.
const std::string* Last(const TParsedArgs& a, std::string_view name) {
    const std::string* v = nullptr;
    for (const auto& [n, value] : a.Options)
        if (n == name) v = &value;
    return v;
}

}  // namespace

TRenderOptions RenderOptionsFromArgs(const TParsedArgs& a) {
    TRenderOptions o;
    o.Smooth = Last(a, "--smooth") != nullptr;
    for (auto [name, curve] : {std::pair{"--shape-curve", &o.Timing.Shape}, {"--colour-curve", &o.Timing.Colour}}) {
        const std::string* text = Last(a, name);
        if (text == nullptr) continue;
        try {
            *curve = ParseCurve(*text);
        } catch (const ECurveError& e) {
            throw EUsageError(std::string(name) + ": " + e.what());
        }
    }
    return o;
}

void AddProjectTiming(const TParsedArgs& a, const std::string& project, TRenderOptions& options,
                      std::ostream& notes) {
    const TTimingLoad stored = LoadTiming(project);
    if (!stored.Note.empty()) notes << stored.Note << "\n";
    if (Last(a, "--shape-curve") == nullptr) options.Timing.Shape = stored.Timing.Shape;
    if (Last(a, "--colour-curve") == nullptr) options.Timing.Colour = stored.Timing.Colour;
}

}  // namespace qv
