#pragma once
// The one-button program's saved flag and file name: its seat's.
#include "app/Forms.h"
#include "app/Seat.h"

#include <QString>

namespace AppState {
inline bool& IsSaved = Forms::MainSeat().IsSaved;
inline QString& CurrentFileName = Forms::MainSeat().CurrentFileName;
}
