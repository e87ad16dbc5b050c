#include "settings/SettingsMode.h"

#include "button/RecognitionArea.h"
#include "button/frmBase.h"
#include "platform/Desktop.h"
#include "settings/frmSetDlg.h"

#include <QAction>
#include <QScrollBar>

#include <array>
#include <cmath>

namespace SettingsMode {

const char* const HighlightCaption = "設定モード\r\n\r\n・ここを見ながら認識エリアを調整してください";

int capturedValue(double twips, int minimum, int maximum) {
    if (std::isnan(twips)) return minimum;
    // Clamping first keeps the conversion inside int; the range ends are
    // integers, so clamping and rounding commute.
    const double clamped = std::fmax(minimum, std::fmin(maximum, twips));
    double whole = std::floor(clamped);
    const double fraction = clamped - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    return static_cast<int>(whole);
}

void run(frmBase& base, frmSetDlg& settings) {
    RecognitionArea& area = *base.Label1;

    // Everything is read before the first scroll bar is written: each write
    // applies all six scroll values to the window, and five of them are still
    // the dialog's old ones.
    const std::array<double, 6> live = {base.Width(), base.Height(), area.Left(),
                                        area.Top(),   area.Width(),  area.Height()};
    const uint32_t backColor = base.BackColor();

    area.setBorderStyle(1);
    area.setBackStyle(1);
    area.setBackColor(HighlightColor);
    area.setCaption(QString::fromUtf8(HighlightCaption));

    for (size_t i = 0; i < live.size(); ++i) {
        const QScrollBar* scroll = settings.HScroll1[i];
        settings.setScrollValue(static_cast<int>(i),
                                capturedValue(live[i], scroll->minimum(), scroll->maximum()));
    }
    settings.setSwatchColor(backColor);
    settings.setCheck1Value(base.MnuSetTopMost->isChecked() ? 1 : 0);

    desktop().showModal(&settings);
    // A width or height of 0 was a preview; the window must stay reachable.
    base.keepReachable();

    area.setCaption(QString());
    area.setBackStyle(0);
    area.setBorderStyle(0);
}

}  // namespace SettingsMode
