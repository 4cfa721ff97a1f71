// The application object: sets up the toolkit, shows the recorder window modally over the machine's
// default sound devices and ends when the window closes. There is no other window, menu or document.
#pragma once

#include <QApplication>

namespace velmar {

class CRecorderApp {
public:
    // `argc` and `argv` are the program's, as the toolkit wants them; they must outlive the object.
    CRecorderApp(int& argc, char** argv);

    // Runs the recorder window until it closes. Returns false: the application has no message loop
    // of its own to run afterwards.
    bool InitInstance();

private:
    QApplication application;
};

// The colours of every dialog of the application: light grey background, black text.
QPalette DialogPalette();

} // namespace velmar
