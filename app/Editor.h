#pragma once
// The editor's three windows, made in start-up order: the main window (FormCreate runs),
// the preview (hidden), the about box (hidden). Show() is what the event loop does first:
// it shows the main window, whose FormShow shows the preview. The main window's geometry and
// the playback duration are remembered between runs.
#include <memory>
#include <string>

namespace qv {

class IDialogs;
class TFMorpherGridEdit;
class TFPreview;
class TFrmAbout;

class TEditor {
public:
    explicit TEditor(IDialogs& dialogs);
    ~TEditor();
    TEditor(const TEditor&) = delete;
    TEditor& operator=(const TEditor&) = delete;

    void Show();
    // Opens a project named on the command line; a bad one gets a message and the editor
    // starts empty.
    void OpenProject(const std::string& fileName);

    TFMorpherGridEdit& FMorpherGridEdit() { return *FMain; }
    TFPreview& FPreview() { return *FPlay; }
    TFrmAbout& FrmAbout() { return *FAboutBox; }

private:
    // Declared in creation order, so they are destroyed the other way round: nothing
    // outlives the grid it points at.
    std::unique_ptr<TFMorpherGridEdit> FMain;
    std::unique_ptr<TFPreview> FPlay;
    std::unique_ptr<TFrmAbout> FAboutBox;
};

}  // namespace qv
