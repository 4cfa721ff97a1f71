#include "app/RecorderApp.h"

#include "app/DialogTexts.h"
#include "app/RecorderDlg.h"
#include "audio/PortAudioDevice.h"

#include <QPalette>
#include <QStyleFactory>

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

CRecorderApp::CRecorderApp(int& argc, char** argv)
    : application(argc, argv) {
    QApplication::setApplicationName(QString::fromUtf8(texts::kApplicationName));
    // Lets the desktop match the window with its entry and icon.
    QApplication::setDesktopFileName(QStringLiteral("velmar-recorder"));
}

bool CRecorderApp::InitInstance() {
    // The raised, three-dimensional look of classic controls, the same on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    CRecorderDlg dialog(std::make_unique<CPortAudioBackend>());
    QApplication::setPalette(DialogPalette());
    dialog.exec();
    return false;
}

} // namespace velmar
