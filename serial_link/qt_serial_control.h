#pragma once

#include "line_settings.h"
#include "port_resolver.h"
#include "serial_control.h"

#include <QObject>
#include <QSerialPort>

namespace relais {

// The serial control on QSerialPort. Only writes; whatever the unit sends is
// read and dropped so that a lost line is noticed.
class QtSerialControl : public QObject, public SerialControl {
    Q_OBJECT

public:
    // The resolver must outlive the control.
    explicit QtSerialControl(const PortResolver& resolver, QObject* parent = nullptr);
    ~QtSerialControl() override;

    void setPortNumber(int port) override;
    void setDevice(const QString& device) override;
    QString device() const override { return device_; }
    void setSettings(const QString& settings) override;
    void open() override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray& data) override;
    void discardPending() override;

    // The CommError number for a failed QSerialPort::open().
    static int openFailure(QSerialPort::SerialPortError error);

    // Waits until everything written has left the port, up to `msecs`.
    bool drain(int msecs);
    // Whether everything written has left the port, without waiting.
    bool everythingSent();

    // Bytes waiting in this process for the line (not yet with the system).
    qint64 bytesQueued() const { return port_.bytesToWrite() + waiting_.size(); }

signals:
    // Emitted once when an open line goes away; the port is closed right after.
    void lineLost();

private:
    void onPortError(QSerialPort::SerialPortError error);
    void applySettings();
    void writeWaiting();
    [[noreturn]] void fail(int number, const QString& reason);

    const PortResolver& resolver_;
    QSerialPort port_;
    int portNumber_ = 1;
    LineSettings settings_;
    QString device_;
    QString chosenDevice_;     // set by setDevice(), overrides the port number
    bool lost_ = false;        // the open line went away; closing is queued
    bool lossPending_ = false; // the loss has not yet been raised by a write
    QString lossReason_;
    QByteArray waiting_; // the newest data, held back while the port is still busy
    bool writtenSinceDiscard_ = false;
    quint64 openCount_ = 0;
};

} // namespace relais
