// The modal windows the recorder opens over its own: the save prompt, the open and save file
// dialogs and message boxes. The recorder reaches them through these functions so that a test can
// answer them in place of a user; PlatformDialogs gives the real ones.
#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace velmar {

enum class MessageKind { Plain, Warning };

struct ModalDialogs {
    // Runs the save prompt owned by `owner`; its end code (QDialog::Accepted for Yes and Enter,
    // QDialog::Rejected for No, Escape and the close box).
    std::function<int(QWidget& owner)> runSavePrompt;
    // The open-file dialog: an existing file's path, or nothing when the user cancels.
    std::function<std::optional<QString>(QWidget& owner)> chooseOpenFile;
    // The save-file dialog: the path to save to (replacing a file was confirmed), or nothing.
    std::function<std::optional<QString>(QWidget& owner)> chooseSaveFile;
    // A message box with an OK button.
    std::function<void(QWidget& owner, MessageKind kind, const QString& title, const QString& text)>
        showMessage;
};

ModalDialogs PlatformDialogs();

} // namespace velmar
