#pragma once
// Texts of the desktop program that the catalogue has no entry for, in the catalogue's current
// language: log lines in Windows-1251 bytes like every log text, captions and messages of the
// dialogs as QString. Each exists in English and Russian.
#include <QString>
#include <string>

#include "state/catalogue.h"

namespace qv::desktop {

enum class DesktopText {
  NoSystemTray,        // the desktop has no notification area
  TrayAppeared,        // a notification area appeared later: the icon is there now
  EditsDroppedAtStop,  // the program stopped while a dialog held unsaved edits
  // DB Structure: the question before Apply (%1 days of the datafile, %2 of the archive; %3
  // and %4 the records the new datafile and archive will hold) and the log line after it.
  RestructureQuestion,
  RestructureBackupKeeps,  // appended when a backup copy is made
  RestructureNoBackup,     // appended when none is
  RestructureDone,         // %1 datafile, %2/%3 datafile before/after, %4/%5 archive before/after
  RestructureBackupName,   // %1 the backup file
  RestructureFailed,       // %1 datafile, %2 the reason
  SequenceWarning,         // the files were out of order: this run only sorted them
  StructureCaption,
  SettingsCaption,
  // Settings: captions with no catalogue entry.
  Port2Caption,  // the second port's label until the port is edited
  FeedPortLabel,
  FeedAddressLabel,
  FeedPortOff,
  ChooseDatafileCaption,
  // Settings: why a value cannot be saved (%1 the group, where one is named).
  InvalidPort,
  InvalidFeedPort,
  InvalidFeedAddress,
  InvalidCount,
  InvalidCountArc,
  InvalidTimeBegin,
  InvalidTimeEnd,
  NotSaved,  // caption of the box that says why
  InvalidArchiveSize,
  ReservedDatafileName,  // %1 the name
};

// Windows-1251 bytes, for the log.
std::string Text(const state::Catalogue& catalogue, DesktopText text);
// For widgets.
QString UiText(const state::Catalogue& catalogue, DesktopText text);

}  // namespace qv::desktop
