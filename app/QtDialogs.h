#pragma once
// The dialog seam as the user sees it: Qt file dialogs (the picture dialogs with a preview
// of the selected file) and message boxes.
#include <QStringList>
#include <QWidget>

class QLabel;

#include "app/Dialogs.h"

namespace qv {

// "Morphing Grid|*.grid" -> {"Morphing Grid (*.grid)"}; several patterns "*.a;*.b" become
// "(*.a *.b)"; a description that already ends in a bracketed pattern list loses it first.
QStringList QtNameFilters(const std::string& filter);
// "*.grid" -> "grid"; empty stays empty.
QString QtDefaultSuffix(const std::string& defaultExt);

class TQtDialogs : public IDialogs {
public:
    // Dialogs open over the active window.
    std::optional<std::string> RunFileDialog(const TFileDialog& dialog) override;
    void ShowMessage(const std::string& text) override;
    bool AskOkCancel(const std::string& text) override;
    TSaveAnswer AskSaveChanges(const std::string& name) override;
};

// The preview beside a picture dialog's file list: the selected file, decoded by the
// program's own readers and scaled down to fit.
class TPicturePreview : public QWidget {
public:
    explicit TPicturePreview(QWidget* parent = nullptr);
    void ShowFile(const QString& path);
    // What the preview shows now: a picture, or a short text ("" before any file).
    QString Caption() const;
    bool HasPicture() const;

private:
    QLabel* FImage = nullptr;
    QLabel* FCaption = nullptr;
};

}  // namespace qv
