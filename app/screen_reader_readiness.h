#pragma once

namespace relais {

// Makes the window ready for a screen reader that starts after it, where the
// system's accessibility service answers; called after the application is
// made and before the window's first control. Never waits longer than a
// moment: a hung service leaves the window as it would be without one.
void prepareForScreenReaders();

} // namespace relais
