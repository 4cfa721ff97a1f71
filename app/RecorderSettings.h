// What the recorder remembers between sessions, in the user's settings (QSettings under the
// application's organisation and name): whether playback is enhanced, and the folder the file
// dialogs used last. Reads and writes are on the window's thread.
#pragma once

#include "codec/PostFilter.h"

#include <QString>

namespace velmar {

// Enhanced unless the user turned it off.
DecodeMode PlaybackMode();
void SetPlaybackMode(DecodeMode mode);

// How hard the encoder searches while recording (0 Standard, 1 Better, 2 Best); Better unless the
// user chose otherwise.
int RecordingEffort();
void SetRecordingEffort(int effort);

// The folder of the file opened or saved last; empty when none was, or it is gone.
QString LastFolder();
// Remembers the folder that holds `chosenFile`.
void RememberFolderOf(const QString& chosenFile);

} // namespace velmar
