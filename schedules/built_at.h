#pragma once

#include <QtGlobal>

namespace relais {

// When this program was built, UTC milliseconds: a clock showing an
// earlier time is wrong.
qint64 programBuiltAt();

} // namespace relais
