#include "datafile/DataFileCommands.h"

#include "app/Seat.h"
#include "button/frmBase.h"
#include "datafile/DataFile.h"
#include "datafile/SettingsRecord.h"
#include "platform/Desktop.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Picture.h"
#include "settings/frmSetDlg.h"

#include <QLineEdit>
#include <QScrollBar>

namespace {

constexpr int32_t OpenFlags = 4;  // no read-only check box
constexpr int32_t SaveFlags = 2;  // confirm replacing an existing file

const QString MissingTitle = QStringLiteral("指定ファイル未発見");
const QString MissingImage = QStringLiteral("データファイルに記録している画像ファイル名:");
const QString MissingSound = QStringLiteral("データファイルに記録しているサウンドファイル名:");
const QString MissingMiddle = QStringLiteral(" が");
const QString MissingEnd = QStringLiteral("見つかりませんでした。再度指定してください。");
const QString SaveErrorTitle = QStringLiteral("保存エラー");

// The existence test: the path of the ordinary file a stored path names, or
// nothing. A name that went through the code page and came back with other
// characters (〜 as ～) is looked up under its real name.
std::optional<QString> existingFile(const QString& stored) {
    if (stored.isEmpty()) return stored;  // nothing chosen is not reported missing
    if (!Dir(stored).isEmpty()) return stored;
    const QString real = resolveCodePagePath(stored);
    if (real != stored && !Dir(real).isEmpty()) return real;
    return std::nullopt;
}

// Checks one stored path and puts it in its text box, or reports it missing
// and empties the box. Returns the path now held.
QString applyPath(QLineEdit* box, const QString& stored, const QString& start) {
    const std::optional<QString> found = existingFile(stored);
    if (found) {
        box->setText(*found);
        return *found;
    }
    desktop().msgBox(start + stored + MissingMiddle + QStringLiteral("\r\n") + MissingEnd, MsgBoxStyle::OkStop,
                     MissingTitle);
    box->clear();
    return {};
}

void apply(Seat& seat, const SettingsRecord& r) {
    frmSetDlg& settings = seat.SetDlg();
    frmBase& base = seat.Base();
    // Every scroll change runs RefreshWnd: the window follows value by value.
    settings.setScrollValue(0, r.WindowWidth);
    settings.setScrollValue(1, r.WindowHeight);
    settings.setSwatchColor(r.BackgroundColor);
    base.setBackColor(r.BackgroundColor);
    settings.setScrollValue(2, r.AreaLeft);
    settings.setScrollValue(3, r.AreaTop);
    settings.setScrollValue(4, r.AreaWidth);
    settings.setScrollValue(5, r.AreaHeight);
    const QString unpressed = applyPath(settings.Text1[0], r.UnpressedImagePath, MissingImage);
    base.setPicture(LoadPicture(unpressed));
    applyPath(settings.Text1[1], r.PressedImagePath, MissingImage);
    applyPath(settings.Text1[2], r.SoundPath, MissingSound);
    settings.setCheck1Value(r.AlwaysOnTop);
    base.ClearPressed();
}

// Applies a record read from a data file. A value a control refuses, an
// unreadable picture or a path the existence test cannot take ends it
// quietly: what was applied stays.
void applyTrapped(Seat& seat, const SettingsRecord& r) {
    try {
        apply(seat, r);
    } catch (const RuntimeError&) {
    }
    // A file may size the window to nothing; it stays where a right-click finds it.
    seat.Base().keepReachable();
}

}  // namespace

SettingsRecord DataFileCommands::CurrentSettings(Seat& seat) {
    const frmSetDlg& s = seat.SetDlg();
    SettingsRecord r;
    r.WindowWidth = int16_t(s.HScroll1[0]->value());
    r.WindowHeight = int16_t(s.HScroll1[1]->value());
    r.BackgroundColor = s.swatchColor();
    r.AreaLeft = int16_t(s.HScroll1[2]->value());
    r.AreaTop = int16_t(s.HScroll1[3]->value());
    r.AreaWidth = int16_t(s.HScroll1[4]->value());
    r.AreaHeight = int16_t(s.HScroll1[5]->value());
    r.UnpressedImagePath = s.Text1[0]->text();
    r.PressedImagePath = s.Text1[1]->text();
    r.SoundPath = s.Text1[2]->text();
    r.AlwaysOnTop = int16_t(s.check1Value());
    return r;
}

namespace {

void showSaveError(const QString& text) { desktop().msgBox(text, MsgBoxStyle::OkStop, SaveErrorTitle); }

// A path the data file cannot hold as it is would come back as another name
// and the file would be lost on the next Open: refuse it and say which.
bool refuseUnstorablePath(const SettingsRecord& r) {
    for (const QString* path : {&r.UnpressedImagePath, &r.PressedImagePath, &r.SoundPath}) {
        PathProblem problem = PathProblem::None;
        if (encodePath(*path, &problem)) continue;
        showSaveError(QStringLiteral("次のファイル名はデータファイルに記録できないため、保存しませんでした。\r\n") +
                      *path + QStringLiteral("\r\n") +
                      (problem == PathProblem::TooLong
                           ? QStringLiteral("ファイル名が長すぎます。")
                           : QStringLiteral("データファイルに記録できない文字が含まれています。"
                                            "ファイル名を変えてから指定し直してください。")));
        return true;
    }
    return false;
}

// The common dialog with both commands' filter; nothing when the user cancelled.
std::optional<QString> askFileName(Seat& seat, FileDialogKind kind) {
    CommonDialog& dialog = seat.SetDlg().C_Dialog1;
    dialog.Flags = kind == FileDialogKind::Open ? OpenFlags : SaveFlags;
    dialog.Filter = QString::fromUtf8(DataFileCommands::Filter);
    try {
        if (kind == FileDialogKind::Open) dialog.ShowOpen();
        else dialog.ShowSave();
    } catch (const CancelError&) {
        return std::nullopt;
    }
    return dialog.FileName;
}

}  // namespace

namespace DataFileCommands {

void Open(Seat& seat) {
    if (const std::optional<QString> chosen = askFileName(seat, FileDialogKind::Open)) OpenFile(*chosen, seat);
}

void OpenFile(const QString& path, Seat& seat) {
    seat.CurrentFileName = path;
    try {
        const std::optional<SettingsRecord> record = decodeRecord(readDataFile(path));
        if (!record) return;  // shorter than a record: nothing applied
        applyTrapped(seat, *record);
    } catch (const DataFileError&) {
        // Missing, unreadable or not an ordinary file.
    }
}

void OpenStartupFile(const QString& path, Seat& seat) {
    seat.CurrentFileName = path;
    QString reason;
    try {
        if (const std::optional<SettingsRecord> record = decodeRecord(readDataFile(path))) {
            applyTrapped(seat, *record);
            return;
        }
        reason = QStringLiteral("データファイルとして短すぎます。");
    } catch (const DataFileError& e) {
        reason = e.reason();
    }
    desktop().msgBox(QStringLiteral("データファイルを開けませんでした。\r\n") + path + QStringLiteral("\r\n") + reason,
                     MsgBoxStyle::OkStop, QStringLiteral("読み込みエラー"));
}

void SaveAs(Seat& seat) {
    const std::optional<QString> chosen = askFileName(seat, FileDialogKind::Save);
    if (!chosen) return;  // cancelled: nothing written
    seat.CurrentFileName = *chosen;
    const SettingsRecord record = DataFileCommands::CurrentSettings(seat);
    if (refuseUnstorablePath(record)) return;
    try {
        writeDataFile(*chosen, *encodeRecord(record));
    } catch (const DataFileError& e) {
        showSaveError(QStringLiteral("データファイルを保存できませんでした。\r\n") + *chosen +
                      QStringLiteral("\r\n") + e.reason());
        return;
    }
    seat.IsSaved = true;
}

}  // namespace DataFileCommands
