#pragma once
// A quiz table made on the spot in a temporary folder.
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

namespace tablekit {

// Four seats, チームA to チームD, bound to keys 1-4, with kits of one colour
// each and their own tone; seat 4's kit is missing. `rules` are added to the
// table's (a wrong-answer sound). Returns the table file.
QString fourSeats(const QTemporaryDir& dir, QJsonObject rules = {});

}  // namespace tablekit
