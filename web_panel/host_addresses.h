#pragma once

#include <QStringList>

namespace relais::web {

// This machine's name and addresses, for a certificate that fits every way
// a phone may reach it, and for the line that says where the panel is.
QStringList hostNames();
QStringList hostAddresses();

} // namespace relais::web
