#include "screen_reader_readiness.h"

namespace relais {

// Screen readers here ask the window themselves; there is nothing to prepare.
void prepareForScreenReaders() {}

} // namespace relais
