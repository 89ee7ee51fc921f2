#pragma once

// The frames the unit must see for given relay patterns.

#include <QByteArray>
#include <QList>
#include <QTest>

#include <cstdint>

struct WorkedExample {
    const char* name;
    QList<int> relaysOn;
    std::int32_t mask;
    const char* frame;
};

inline QList<int> relayRange(int first, int last) {
    QList<int> r;
    for (int k = first; k <= last; ++k) {
        r << k;
    }
    return r;
}

inline const QList<WorkedExample>& workedExamples() {
    static const QList<WorkedExample> examples = {
        {"none", {}, 0, "00000"},
        {"relay 1", {1}, 1, "00001"},
        {"relays 1 and 3", {1, 3}, 5, "00005"},
        {"relays 5 to 8", {5, 6, 7, 8}, 240, "00240"},
        {"relays 1 to 8", relayRange(1, 8), 255, "00255"},
        {"relay 10", {10}, 512, "00512"},
        {"relay 14", {14}, 8192, "08192"},
        {"relays 1 to 15", relayRange(1, 15), 32767, "32767"},
        {"relay 16", {16}, 32768, "32768"},
        {"relays 9 to 16", relayRange(9, 16), 65280, "65280"},
        {"all sixteen", relayRange(1, 16), 65535, "65535"},
        {"relays 3 and 16", {3, 16}, 32772, "32772"},
    };
    return examples;
}
