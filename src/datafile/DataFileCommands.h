#pragma once
// The Open and Save As commands: they move the current settings between the
// settings dialog's controls and a data file. Both always return normally;
// Save As reports its own failures, Open ends quietly on a bad file.
#include "app/Forms.h"
#include "datafile/SettingsRecord.h"

#include <QString>

class Seat;

namespace DataFileCommands {

// The dialog filter both commands set.
inline constexpr char Filter[] = "ズンブルアプリVer1データファイル(*.zm1)|*.zm1";

// Open: asks for a file with the common dialog, then OpenFile().
void Open(Seat& seat = Forms::MainSeat());

// Opens `path` as Open does once its dialog returned that name: remembers it
// as the current file name, reads one record and applies it field by field
// through the controls (the window follows every change), reports each media
// file found missing, and clears the pressed state. A file that cannot be
// read, is shorter than a record, or holds a value a control refuses ends the
// command quietly; what was applied before stays. Never creates a file.
void OpenFile(const QString& path, Seat& seat = Forms::MainSeat());

// OpenFile for a file named when the program was started, where no dialog
// showed the user what was chosen: a file that cannot be read or is shorter
// than a record is reported in a stop message, and nothing is applied.
void OpenStartupFile(const QString& path, Seat& seat = Forms::MainSeat());

// Save As: asks for a name, then writes the current settings there. Sets
// IsSaved only when the file was written; a failure is shown to the user.
void SaveAs(Seat& seat = Forms::MainSeat());

// The settings as Save As would write them now.
SettingsRecord CurrentSettings(Seat& seat = Forms::MainSeat());

}  // namespace DataFileCommands
