#pragma once

#include "window_main.h"

#include <QString>

namespace relais {

// The window's entry: from its module where the window is one, linked in
// where the program is a single file. Null, with `error` set, if it cannot
// be had.
RunWindowFunction loadWindow(QString& error);

} // namespace relais
