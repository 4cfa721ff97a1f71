// The application object: sets up the toolkit, shows the recorder window modally over the machine's
// default sound devices and ends when the window closes. There is no other window, menu or document.
#pragma once

#include <QApplication>
#include <QStringList>

#include <optional>

namespace velmar {

class CRecorderApp {
public:
    // `argc` and `argv` are the program's, as the toolkit wants them; they must outlive the object.
    CRecorderApp(int& argc, char** argv);

    // Runs the recorder window until it closes. Returns false: the application has no message loop
    // of its own to run afterwards.
    bool InitInstance();

    // Set when the command line could not be used: InitInstance then opens no window.
    int ExitCode() const { return exitCode; }

private:
    QApplication application;
    int exitCode = 0;
};

// The program's own arguments (the toolkit's are taken out before): at most one file to open and
// play at start; `error` says what is wrong with them otherwise.
struct RecorderArguments {
    std::optional<QString> file;
    QString error;
};
// `arguments` without the program's name.
RecorderArguments ParseRecorderArguments(const QStringList& arguments);

// The colours of every dialog of the application: light grey background, black text.
QPalette DialogPalette();

} // namespace velmar
