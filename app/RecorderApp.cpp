#include "app/RecorderApp.h"

#include "app/DialogTexts.h"
#include "app/RecorderDlg.h"
#include "audio/PortAudioDevice.h"

#include <QPalette>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace velmar {

QPalette DialogPalette() {
    QPalette palette = QApplication::palette();
    const QColor background(192, 192, 192);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::Button, background);
    }
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, Qt::black);
        palette.setColor(group, QPalette::ButtonText, Qt::black);
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    return palette;
}

RecorderArguments ParseRecorderArguments(const QStringList& arguments) {
    RecorderArguments parsed;
    bool optionsEnded = false;
    for (const QString& argument : arguments) {
        if (!optionsEnded && argument == QStringLiteral("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            parsed.error = QStringLiteral("unknown option %1").arg(argument);
            return parsed;
        } else if (parsed.file) {
            parsed.error = QStringLiteral("one file at a time");
            return parsed;
        } else {
            parsed.file = argument;
        }
    }
    return parsed;
}

CRecorderApp::CRecorderApp(int& argc, char** argv)
    : application(argc, argv) {
    QApplication::setApplicationName(QString::fromUtf8(texts::kApplicationName));
    // Where the settings live (the playback mode, the folder of the file dialogs).
    QApplication::setOrganizationName(QStringLiteral("Velmar"));
    // Lets the desktop match the window with its entry and icon.
    QApplication::setDesktopFileName(QStringLiteral("velmar-recorder"));
}

bool CRecorderApp::InitInstance() {
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    const RecorderArguments parsed = ParseRecorderArguments(arguments);
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "velmar-recorder: %s\n%s", parsed.error.toLocal8Bit().constData(),
                     texts::kUsage);
        exitCode = 2;
        return false;
    }
    // The raised, three-dimensional look of classic controls, the same on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    CRecorderDlg dialog(std::make_unique<CPortAudioBackend>());
    QApplication::setPalette(DialogPalette());
    if (parsed.file) {
        // Once the window shows, after the offer of a recording left by an earlier run.
        QTimer::singleShot(0, &dialog, [&dialog, file = *parsed.file] { dialog.OpenFile(file); });
    }
    dialog.exec();
    return false;
}

} // namespace velmar
