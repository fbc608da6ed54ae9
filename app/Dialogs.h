#pragma once
// The seam between the editor's commands and the human: the four kinds of file dialog, the
// message box, the OK/Cancel question and the save-changes question. The program uses TQtDialogs; tests answer through
// their own implementation, so every command can run without anybody at the screen.
#include <optional>
#include <string>

namespace qv {

enum class TFileDialogKind { OpenFile, SaveFile, OpenPicture, SavePicture };
enum class TSaveAnswer { Save, Discard, Cancel };

// One file dialog component of a window: its settings and the name chosen last. The window
// keeps it between runs, so a dialog opens again where it was left.
struct TFileDialog {
    std::string Name;        // component name, e.g. "OpenDialog1"
    TFileDialogKind Kind = TFileDialogKind::OpenFile;
    std::string Filter;      // "Description|*.ext|Description|*.a;*.b"
    std::string DefaultExt;  // "*.grid", or empty
    std::string FileName;    // initial name, then the name chosen last
};

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Runs the dialog; the chosen file name, or nothing when the user cancelled.
    virtual std::optional<std::string> RunFileDialog(const TFileDialog& dialog) = 0;
    // The default error display: the message in a box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // A warning with OK and Cancel; true for OK.
    virtual bool AskOkCancel(const std::string& text) = 0;
    // "Save changes to NAME?" with Save, Discard and Cancel.
    virtual TSaveAnswer AskSaveChanges(const std::string& name) = 0;
};

// Runs the dialog through the seam. On a choice the dialog remembers the name and the
// process moves into the chosen file's folder: a project finds its pictures by bare name
// relative to that folder. Returns false when the user cancelled.
bool Execute(TFileDialog& dialog, IDialogs& dialogs);

}  // namespace qv
