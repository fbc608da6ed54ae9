#include "app/QtDialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QItemSelectionModel>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "app/PicturePane.h"
#include "app/QtOwn.h"
#include "framework/System.h"
#include "imageio/GenericGraphic.h"

namespace qv {

namespace {

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

QString FromLocal(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }
std::string ToLocal(const QString& s) { return QFile::encodeName(s).toStdString(); }

constexpr int kPreviewSize = 160;

}  // namespace

QStringList QtNameFilters(const std::string& filter)
{
    QStringList result;
    const std::vector<std::string> parts = Split(filter, '|');
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string title = parts[i];
        // "Truevision images (*.tga)": the bracketed list is rebuilt below in Qt's form.
        const auto open = title.rfind(" (");
        if (open != std::string::npos && !title.empty() && title.back() == ')')
            title.erase(open);
        QStringList patterns;
        for (const std::string& pattern : Split(parts[i + 1], ';'))
            if (!pattern.empty())
                patterns << FromLocal(pattern);
        result << FromLocal(title) + " (" + patterns.join(' ') + ")";
    }
    return result;
}

QString QtDefaultSuffix(const std::string& defaultExt)
{
    std::string ext = defaultExt;
    if (ext.rfind("*.", 0) == 0)
        ext.erase(0, 2);
    else if (ext.rfind(".", 0) == 0)
        ext.erase(0, 1);
    return FromLocal(ext);
}

std::optional<std::string> TQtDialogs::RunFileDialog(const TFileDialog& dialog)
{
    const bool save = dialog.Kind == TFileDialogKind::SaveFile || dialog.Kind == TFileDialogKind::SavePicture;
    const bool picture = dialog.Kind == TFileDialogKind::OpenPicture || dialog.Kind == TFileDialogKind::SavePicture;

    QFileDialog box(QApplication::activeWindow());
    box.setObjectName(FromLocal(dialog.Name));
    // Qt's own dialog on every desktop, so the picture dialogs can carry their preview.
    box.setOption(QFileDialog::DontUseNativeDialog);
    box.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    box.setFileMode(QFileDialog::AnyFile);
    box.setWindowTitle(save ? "Save As" : "Open");
    box.setNameFilters(QtNameFilters(dialog.Filter));
    box.setDefaultSuffix(QtDefaultSuffix(dialog.DefaultExt));

    // The dialog opens where it was left: in the folder of the last name, with its name.
    const std::string folder = ExtractFilePath(dialog.FileName);
    box.setDirectory(FromLocal(folder.empty() ? GetCurrentDir() : folder));
    const std::string name = ExtractFileName(dialog.FileName);
    if (!name.empty() && name.find_first_of("*?") == std::string::npos)
        box.selectFile(FromLocal(name));

    if (picture) {
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
            auto* preview = Own<TPicturePreview>(&box);
            preview->setObjectName("PicturePreview");
            grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
            QObject::connect(&box, &QFileDialog::currentChanged, preview,
                             [preview](const QString& path) { preview->ShowFile(path); });
            // A name typed into the dialog selects its file without making it current.
            if (auto* list = box.findChild<QAbstractItemView*>("listView"); list && list->selectionModel())
                QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, preview,
                                 [&box, preview] {
                                     const QStringList files = box.selectedFiles();
                                     if (!files.isEmpty())
                                         preview->ShowFile(files.first());
                                 });
        }
    }
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = box.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return ToLocal(files.first());
}

void TQtDialogs::ShowMessage(const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, "Quorvalin", QString::fromUtf8(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

bool TQtDialogs::AskOkCancel(const std::string& text)
{
    return QMessageBox::warning(QApplication::activeWindow(), "Warning", QString::fromUtf8(text),
                                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

TSaveAnswer TQtDialogs::AskSaveChanges(const std::string& name)
{
    QMessageBox box(QMessageBox::Warning, "Quorvalin", QString("Save changes to %1?").arg(QString::fromUtf8(name)),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save: return TSaveAnswer::Save;
    case QMessageBox::Discard: return TSaveAnswer::Discard;
    default: return TSaveAnswer::Cancel;
    }
}

TPicturePreview::TPicturePreview(QWidget* parent) : QWidget(parent)
{
    auto* column = Own<QVBoxLayout>(this);
    FImage = Own<QLabel>(this);
    FImage->setObjectName("PreviewImage");
    FImage->setFixedSize(kPreviewSize, kPreviewSize);
    FImage->setAlignment(Qt::AlignCenter);
    FImage->setFrameShape(QFrame::StyledPanel);
    FCaption = Own<QLabel>(this);
    FCaption->setObjectName("PreviewCaption");
    FCaption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    FCaption->setWordWrap(true);
    FCaption->setFixedWidth(kPreviewSize);
    column->addWidget(FImage);
    column->addWidget(FCaption);
    column->addStretch(1);
}

void TPicturePreview::ShowFile(const QString& path)
{
    FImage->clear();
    FCaption->clear();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return;
    try {
        TGenericGraphic picture;
        picture.LoadImageFile(ToLocal(path));
        const QImage image = ToQImage(picture);
        FImage->setPixmap(QPixmap::fromImage(
            image.width() > kPreviewSize || image.height() > kPreviewSize
                ? image.scaled(kPreviewSize, kPreviewSize, Qt::KeepAspectRatio, Qt::FastTransformation)
                : image));
        FCaption->setText(QString("%1 x %2").arg(picture.Width()).arg(picture.Height()));
    } catch (const std::exception& e) {
        // A file the readers refuse is shown as such; the dialog goes on.
        FCaption->setText(QString("No preview: %1").arg(QString::fromUtf8(e.what())));
    }
}

QString TPicturePreview::Caption() const
{
    return FCaption->text();
}

bool TPicturePreview::HasPicture() const
{
    return !FImage->pixmap().isNull();
}

}  // namespace qv
