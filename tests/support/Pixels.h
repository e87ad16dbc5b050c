#pragma once
// Pixels of a rendered picture as letters, so that one comparison checks a
// row of spots and a failure shows all of them:
//   QCOMPARE(pixels(img, {{5, 5}, {15, 5}}), QString("r."));
// r, g, b, c, m, y: pure opaque red, green, blue, cyan, magenta, yellow;
// k black; w white; . fully
// transparent; ? anything else (a blend, a half-transparent pixel); ! off
// the picture.
#include <QImage>
#include <QPoint>
#include <QString>

#include <initializer_list>

QString pixels(const QImage& img, std::initializer_list<QPoint> at);
