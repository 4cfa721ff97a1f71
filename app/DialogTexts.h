// Every text the recorder shows its user, in one place: captions, labels, the initial contents of
// the file-name and time displays, the pieces of the time format, the prompt, the file-dialog
// filters, the About box and the messages about recordings that could not be saved or runs that
// ended through an error. Texts are UTF-8.
#pragma once

namespace velmar::texts {

// The application and its window.
inline constexpr const char* kApplicationName = "aaaa";
inline constexpr const char* kDialogTitle = "Velmar Voice Recorder/Player";

// Button captions (the faces show them; these name the buttons for accessibility and tests).
inline constexpr const char* kPlay = "Play";
inline constexpr const char* kRecord = "Record";
inline constexpr const char* kStop = "Stop";
inline constexpr const char* kOpen = "Open";
inline constexpr const char* kSave = "Save";
inline constexpr const char* kPause = "Pause";
inline constexpr const char* kAbout = "About";

// Labels and the initial contents of the displays.
inline constexpr const char* kFileNameLabel = "File Name:";
inline constexpr const char* kTimeLabel = "Time:";
inline constexpr const char* kTemplateFileName = "Noname";
inline constexpr const char* kNoFileName = "Noname.prm";
inline constexpr const char* kZeroTime = "00min 00sec";

// Pieces of a time as the time display writes it ("1h 2min 3", "2min 3.4sec ", "5.3sec ") and the
// separator between position and total.
inline constexpr const char* kHoursUnit = "h ";
inline constexpr const char* kMinutesUnit = "min ";
inline constexpr const char* kSecondsUnit = "sec ";
inline constexpr const char* kTenthsPoint = ".";
inline constexpr const char* kTotalSeparator = " / ";

// The save prompt.
inline constexpr const char* kPromptTitle = "Dialog";
inline constexpr const char* kPromptText = "Do you want to save the recorded file?";
inline constexpr const char* kYes = "Yes";
inline constexpr const char* kNo = "No";

// The file dialogs: one filter each, and the extension added to a name typed without one.
inline constexpr const char* kOpenFilter = "Файлы Halvard(*.prm)";
inline constexpr const char* kOpenDefaultSuffix = "wav";
inline constexpr const char* kSaveFilter = "Halvern (*.prm)";
inline constexpr const char* kSaveDefaultSuffix = "prm";

// Save's second filter: the recording as sound anyone can play, decoded as the window plays it.
inline constexpr const char* kWavFilter = "WAV audio (*.wav)";
inline constexpr const char* kWavSuffix = "wav";

// The slider's name for screen readers.
inline constexpr const char* kPositionName = "Position";

// The window's context menu.
inline constexpr const char* kEnhancedPlayback = "Enhanced playback";
// How hard the encoder searches while recording, effort 0, 1 and 2; an effort this machine cannot
// keep up with is offered disabled, with the reason.
inline constexpr const char* kEffortNames[] = {"Standard", "Better", "Best"};
inline constexpr const char* kEffortTooSlow = "%1 (too slow on this computer)";

// A button's tooltip: %1 its caption, %2 its key.
inline constexpr const char* kButtonTip = "%1 (%2)";

// The About box.
inline constexpr const char* kAboutTitle = "About";
inline constexpr const char* kAboutText =
    "Velmar Voice Recorder/Player: speech recorded and played at 4800 bit/s by its own codec.";

// A save that did not happen. %1 is the chosen file, %2 what failed, %3 the system's reason.
inline constexpr const char* kSaveFailedTitle = "Recording not saved";
inline constexpr const char* kSaveFailed = "The recording was not saved to %1:\n%2%3\n\n"
                                           "It is kept: save it again, under another name or in "
                                           "another folder.";
inline constexpr const char* kSaveOntoRecording =
    "this is the file the recorder records into; choose another name";
inline constexpr const char* kSaveOpenRecordingFailed = "the recording could not be opened";
inline constexpr const char* kSaveCreateFailed = "the file could not be created";
inline constexpr const char* kSaveTargetNotFile = "it is not a regular file; choose another name";
inline constexpr const char* kSaveReadFailed = "reading the recording failed";
inline constexpr const char* kSaveWriteFailed = "writing the file failed";
inline constexpr const char* kSaveReasonSeparator = ": ";

// A run that ended through an error (%1 is the error text the run recorded) or could not start.
inline constexpr const char* kRecordingErrorTitle = "Recording stopped";
inline constexpr const char* kRecordingError = "The recording stopped because of an error:\n%1";
inline constexpr const char* kPlaybackErrorTitle = "Playback stopped";
inline constexpr const char* kPlaybackError = "The playback stopped because of an error:\n%1";
inline constexpr const char* kUnknownRunError = "no reason was recorded.";
// A recording with holes: the machine could not store some of the sound in time. %1 says how much.
inline constexpr const char* kRecordingLossTitle = "Sound missing";
inline constexpr const char* kRecordingLoss = "The recording is kept, but %1.";
inline constexpr const char* kRecordingNotStarted = "The recording could not be started.";
inline constexpr const char* kPlaybackNotStarted = "The playback of %1 could not be started.";
// %1 is the folder, %2 the system's reason.
inline constexpr const char* kRecordingNoWorkingFile =
    "The recording could not be started: no file to record into can be created in %1 (%2).";

// A file that Open or Play does not hand to the player. %1 is the file, %2 why.
inline constexpr const char* kNotPlayedTitle = "Not played";
inline constexpr const char* kNotPlayed = "%1 is not played: %2.\n\n"
                                          "The recorder plays only its own .prm recordings.";

// The recorder executable's command line.
inline constexpr const char* kUsage = "Usage: velmar-recorder [FILE.prm]\n"
                                      "Opens the Velmar Voice Recorder/Player window, and plays FILE.prm "
                                      "when one is given, as Open would. Recordings are made "
                                      "into prm.tmp in the current folder until saved (prm-2.tmp, "
                                      "prm-3.tmp, ... for further windows in the same folder); one left "
                                      "there by a run that ended without closing its window is offered "
                                      "for saving at the next start.\n";

} // namespace velmar::texts
