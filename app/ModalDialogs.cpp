#include "app/ModalDialogs.h"

#include "app/DialogTexts.h"
#include "app/RecorderSettings.h"
#include "app/SavePromptDlg.h"

#include <QFileDialog>
#include <QMessageBox>

namespace velmar {
namespace {

// In the folder of the file opened or saved last; the dialog's own start (the current folder) when
// there is none.
void StartInLastFolder(QFileDialog& dialog) {
    if (const QString folder = LastFolder(); !folder.isEmpty()) {
        dialog.setDirectory(folder);
    }
}

int RunSavePrompt(QWidget& owner) {
    CSavePromptDlg prompt(&owner);
    return prompt.exec();
}

std::optional<QString> ChooseOpenFile(QWidget& owner) {
    QFileDialog dialog(&owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    StartInLastFolder(dialog);
    dialog.setNameFilter(QString::fromUtf8(texts::kOpenFilter));
    dialog.setDefaultSuffix(QString::fromUtf8(texts::kOpenDefaultSuffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> ChooseSaveFile(QWidget& owner) {
    QFileDialog dialog(&owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    StartInLastFolder(dialog);
    const QString wavFilter = QString::fromUtf8(texts::kWavFilter);
    dialog.setNameFilters({QString::fromUtf8(texts::kSaveFilter), wavFilter});
    dialog.setDefaultSuffix(QString::fromUtf8(texts::kSaveDefaultSuffix));
    // A name typed without an extension gets the one of the kind chosen.
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog, [&dialog, wavFilter](const QString& filter) {
            dialog.setDefaultSuffix(
                QString::fromUtf8(filter == wavFilter ? texts::kWavSuffix : texts::kSaveDefaultSuffix));
        });
    // Replacing an existing file is confirmed in the dialog (Qt asks by default).
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

void ShowMessage(QWidget& owner, MessageKind kind, const QString& title, const QString& text) {
    QMessageBox box(kind == MessageKind::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, &owner);
    box.exec();
}

} // namespace

ModalDialogs PlatformDialogs() {
    return ModalDialogs{RunSavePrompt, ChooseOpenFile, ChooseSaveFile, ShowMessage};
}

} // namespace velmar
