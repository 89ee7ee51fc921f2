#pragma once

#include <QString>

namespace relais {

// COM 1 to COM 8, one line each, with the device behind it now and the
// system's description of it, or that there is none.
QString portListing();

} // namespace relais
