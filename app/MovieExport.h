#pragma once
// Save as avi: the movie is made by the same frame plan and export as the batch tool's
// avi command; meanwhile the preview's slider and picture follow each frame and the
// status bar counts the frames.
#include <string>

namespace qv {

class TFMorpherGridEdit;
class TFPreview;

void SaveAsAvi(TFMorpherGridEdit& mainWindow, TFPreview& preview, const std::string& fileName);

}  // namespace qv
