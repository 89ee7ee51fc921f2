#pragma once

#include "panel_interfaces.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>

namespace relais {

// Numbered errors raised by the serial control.
enum CommErrorNumber : int {
    kErrPortNotFound = 8002,     // the chosen port does not exist
    kErrPortInUse = 8005,        // another program holds the port
    kErrPermissionDenied = 8101, // the user may not open the device
    kErrOpenFailed = 8102,       // any other failure to open
    kErrLineLost = 8103,         // the line went away while open
    kErrInvalidSettings = 8104,  // malformed line settings text
    kErrInvalidValue = 8105,     // a property value out of range
    kErrPortIsOpen = 8106,       // port or settings changed while open
};

class CommError : public std::runtime_error {
public:
    CommError(int number, QString device, QString reason)
        : std::runtime_error((device + QStringLiteral(": ") + reason).toStdString()),
          number_(number), device_(std::move(device)), reason_(std::move(reason)) {}

    int number() const { return number_; }
    // The device path (or "COM n" when no device stands behind it).
    const QString& device() const { return device_; }
    // The system's own words for what went wrong.
    const QString& reason() const { return reason_; }

private:
    int number_;
    QString device_;
    QString reason_;
};

// The serial port as the program uses it: chosen by number, opened with a
// settings text, written to. Every operation may throw CommError.
class SerialControl : public FrameSink {
public:
    // Port 1..8 ("COM n") used by the next opening; only while closed.
    virtual void setPortNumber(int port) = 0;
    // A device used by the next opening instead of COM n's, until the next
    // setPortNumber(); only while closed.
    virtual void setDevice(const QString& device) = 0;
    // The device of the open port, or of the last opening.
    virtual QString device() const = 0;

    // "baud,parity,databits,stopbits", e.g. "9600,n,8,1"; only while closed.
    virtual void setSettings(const QString& settings) = 0;

    // Opens the chosen port (8002, 8005, ... on failure); does nothing when open.
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // write() is ignored while closed, and raises the line-lost error once
    // after the line went away.
};

} // namespace relais
