#pragma once

#include "ComPort.h"
#include "fake/FakeComm.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// A port on the fake device, with a journal of what its handlers saw.
struct TRecordedError {
    TComErrorCode Code;
    QString Message;
    std::int64_t OsError;
    QString OsMessage;
};

class PortOnFakeDevice : public testing::Test {
protected:
    PortOnFakeDevice() : port(nullptr, device) { port.SetPort("/dev/ttyFAKE0"); }

    // Records the open and close notifications and the line reports.
    void RecordNotifications()
    {
        port.OnBeforeOpen = [this](TCustomComPort*) { journal << "BeforeOpen"; };
        port.OnAfterOpen = [this](TCustomComPort*) { journal << "AfterOpen"; };
        port.OnBeforeClose = [this](TCustomComPort*) { journal << "BeforeClose"; };
        port.OnAfterClose = [this](TCustomComPort*) { journal << "AfterClose"; };
        port.OnCTSChange = [this](TCustomComPort*, bool on) { journal << QString("CTS %1").arg(on); };
        port.OnDSRChange = [this](TCustomComPort*, bool on) { journal << QString("DSR %1").arg(on); };
        port.OnRLSDChange = [this](TCustomComPort*, bool on) { journal << QString("RLSD %1").arg(on); };
    }

    void RecordErrors()
    {
        port.OnException = [this](TCustomComPort* sender, TComErrorCode code, const QString& message,
                                  std::int64_t osError, const QString& osMessage) {
            EXPECT_EQ(sender, &port);
            errors.push_back({code, message, osError, osMessage});
        };
    }

    // Declared before the port: a port still open at the end of a test closes
    // in its destructor, and its handlers write here.
    TFakeCommLayer device;
    QStringList journal;
    std::vector<TRecordedError> errors;
    TCustomComPort port;
};
