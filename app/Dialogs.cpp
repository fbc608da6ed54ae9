#include "app/Dialogs.h"

#include "framework/System.h"

namespace qv {

bool Execute(TFileDialog& dialog, IDialogs& dialogs)
{
    std::optional<std::string> chosen = dialogs.RunFileDialog(dialog);
    if (!chosen || chosen->empty())
        return false;
    dialog.FileName = *chosen;
    const std::string folder = ExtractFilePath(ExpandFileName(*chosen));
    if (!folder.empty())
        SetCurrentDir(folder);  // a folder that vanished meanwhile is not worth an error
    return true;
}

}  // namespace qv
