#pragma once

namespace relais {

// To assistive technology the window offers only the controls it shows:
// the hidden diagnostics stay out of reach. Installs itself once.
void installWindowAccessibility();

} // namespace relais
