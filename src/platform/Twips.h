#pragma once
// Positions and sizes are kept in twips: 15 twips to a logical pixel, fixed,
// whatever the screen's resolution.
#include <QColor>
#include <QRect>
#include <QtMath>

#include <cstdint>

constexpr int TwipsPerPixel = 15;

inline int twipsToPixels(double twips) { return qRound(twips / TwipsPerPixel); }
inline double pixelsToTwips(int pixels) { return static_cast<double>(pixels) * TwipsPerPixel; }
// A control's rectangle given in twips, in pixels.
inline QRect twipRect(int left, int top, int width, int height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

// Colours as the program keeps them: 0x00BBGGRR.
inline QColor colorFromRef(uint32_t ref) { return QColor(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF); }
inline uint32_t refFromColor(const QColor& c) {
    return static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
           (static_cast<uint32_t>(c.blue()) << 16);
}
