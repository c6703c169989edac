#pragma once

#include "ComPort.h"
#include "fake/FakeComm.h"

#include <QString>
#include <QStringList>

#include <cerrno>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

// A port on the fake device, with a journal of what its handlers saw.
struct TRecordedError {
    TComErrorCode Code;
    QString Message;
    std::int64_t OsError;
    QString OsMessage;
};

// One layer call made to fail once with EIO, and the operation that must
// then raise the code given.
struct TFailureCase {
    const char* Call;
    TComErrorCode Code;
    std::function<void()> Operation;
};

class PortOnFakeDevice : public testing::Test {
protected:
    PortOnFakeDevice() : port(nullptr, device) { port.SetPortName("/dev/ttyFAKE0"); }

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

    // Each case raises its code with EIO, and leaves no record behind but
    // the port's own.
    void ExpectEachFailureRaises(const std::vector<TFailureCase>& cases)
    {
        for (const TFailureCase& c : cases) {
            device.Fail(c.Call, EIO, 1);
            try {
                c.Operation();
                ADD_FAILURE() << c.Call << " failing raised nothing";
            } catch (const EComPort& e) {
                EXPECT_EQ(e.Code(), c.Code) << c.Call;
                EXPECT_EQ(e.WinCode(), EIO) << c.Call;
            }
            EXPECT_LE(device.OpenEvents(), 1u) << c.Call << ": a record beyond the port's own was left behind";
        }
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
