#pragma once

#include <cstdint>

namespace relais {

// Colours are kept as the 32-bit values the buttons carry (0x00BBGGRR, or a
// system colour with the top bit set) and compared exactly.
using Color = std::uint32_t;

inline constexpr Color kButtonFace = 0x8000000Fu; // system colour: button face
inline constexpr Color kGreen = 65280u;           // 0x00FF00: relay on
inline constexpr Color kRed = 255u;               // 0x0000FF: link running

} // namespace relais
