#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace relais {

// Maps "COM n" (1..8) to a device, asked afresh at every opening.
class PortResolver {
public:
    virtual ~PortResolver() = default;
    virtual std::optional<QString> devicePath(int portNumber) const = 0;
};

// The order in which serial devices become COM 1, COM 2, ...: on-board ports
// (ttyS*) first, then USB adapters (ttyUSB*), then USB CDC devices (ttyACM*),
// then the rest; within a group by number, so ttyUSB2 comes before ttyUSB10.
// Takes and returns device paths or names.
QStringList orderSerialPorts(QStringList devices);

// The system's serial ports: on Windows COM n is COMn; elsewhere COM n is
// the n-th port the system reports, in the order above.
class SystemPortResolver : public PortResolver {
public:
    std::optional<QString> devicePath(int portNumber) const override;
    // The devices behind COM 1, COM 2, ... as they are now; an empty entry
    // where COM n has none, and the list may end early.
    static QStringList devicesInComOrder();
};

// A port as a user names it: "COM n", "COMn" or "n" for n from 1 to 8, or
// a device path. Exactly one of the two is set.
struct PortSpec {
    int number = 0;
    QString device;
};
std::optional<PortSpec> parsePortSpec(const QString& text);
// "COM n", as the port list and every message name a port.
QString comName(int number);
inline constexpr int kPortCount = 8;

// A fixed table, for tests and benchmarks.
class FixedPortResolver : public PortResolver {
public:
    FixedPortResolver() = default;
    explicit FixedPortResolver(QMap<int, QString> table) : table_(std::move(table)) {}
    void set(int portNumber, const QString& device) { table_[portNumber] = device; }
    std::optional<QString> devicePath(int portNumber) const override;

private:
    QMap<int, QString> table_;
};

} // namespace relais
