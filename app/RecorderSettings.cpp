#include "app/RecorderSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace velmar {
namespace {

const QString kEnhancedKey = QStringLiteral("playback/enhanced");
const QString kLastFolderKey = QStringLiteral("files/lastFolder");

} // namespace

DecodeMode PlaybackMode() {
    return QSettings().value(kEnhancedKey, true).toBool() ? DecodeMode::Enhanced : DecodeMode::Plain;
}

void SetPlaybackMode(DecodeMode mode) {
    QSettings().setValue(kEnhancedKey, mode == DecodeMode::Enhanced);
}

QString LastFolder() {
    const QString folder = QSettings().value(kLastFolderKey).toString();
    // A folder removed since (an unplugged drive) would open the dialog nowhere useful.
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

void RememberFolderOf(const QString& chosenFile) {
    QSettings().setValue(kLastFolderKey, QFileInfo(chosenFile).absolutePath());
}

} // namespace velmar
