#pragma once

#include <QString>

#include <optional>

namespace relais {

struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    int baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    bool operator==(const LineSettings&) const = default;
};

// Parses "9600,n,8,1": baud rate, parity letter (n, e, o, m, s), data bits
// (5 to 8), stop bits (1, 1.5, 2). Anything else is malformed: nullopt.
std::optional<LineSettings> parseLineSettings(const QString& text);

} // namespace relais
