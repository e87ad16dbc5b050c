#pragma once
// Pixels of a rendered picture as letters, so that one comparison checks a
// row of spots and a failure shows all of them:
//   QCOMPARE(pixels(img, {{5, 5}, {15, 5}}), QString("r."));
// r, g, b, c, m, y: pure opaque red, green, blue, cyan, magenta, yellow;
// k black; w white; . fully
// transparent; ? anything else (a blend, a half-transparent pixel); ! off
// the picture.
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

QString pixels(const QImage& img, const QList<QPoint>& at);
// The picture's size before its pixels ("96x48 r."), to check both at once.
QString sizedPixels(const QImage& img, const QList<QPoint>& at);
// How many pixels of the area are more than half opaque (and of the colour,
// when one is given; its alpha is not compared).
int inkIn(const QImage& img, const QRect& area, std::optional<QRgb> colour = std::nullopt);
