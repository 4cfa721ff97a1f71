#include "app/RecorderSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace velmar {
namespace {

const QString kEnhancedKey = QStringLiteral("playback/enhanced");
const QString kLastFolderKey = QStringLiteral("files/lastFolder");
const QString kEffortKey = QStringLiteral("recording/effort");
constexpr int kDefaultEffort = 1;

} // namespace

DecodeMode PlaybackMode() {
    return QSettings().value(kEnhancedKey, true).toBool() ? DecodeMode::Enhanced : DecodeMode::Plain;
}

void SetPlaybackMode(DecodeMode mode) {
    QSettings().setValue(kEnhancedKey, mode == DecodeMode::Enhanced);
}

int RecordingEffort() {
    bool valid = false;
    const int effort = QSettings().value(kEffortKey, kDefaultEffort).toInt(&valid);
    return valid && effort >= 0 ? effort : kDefaultEffort;
}

void SetRecordingEffort(int effort) {
    QSettings().setValue(kEffortKey, effort);
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
