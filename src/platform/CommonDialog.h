#pragma once
// The one common dialog shared by every file and colour dialog. FileName and
// Color keep their values from one use to the next; a cancel raises
// CancelError and leaves both as they were.
#include <QString>

#include <cstdint>

class CommonDialog {
public:
    int32_t Flags = 0;
    QString Filter;    // "description|pattern|description|pattern", patterns "*.a;*.b"
    QString FileName;
    uint32_t Color = 0;  // 0x00BBGGRR

    void ShowOpen();
    void ShowSave();
    void ShowColor();
};
