#pragma once

// The four settings objects a port owns. Each keeps a back-reference to its
// port; a changed value asks the port to re-apply the matching part of the
// device configuration, which the port ignores while it is closed.

#include "ComValues.h"
#include "Persistent.h"

#include <cstdint>

class TCustomComPort;

// Shared by the four classes: the non-owning reference to the owning port.
class TComSettingsObject : public TPersistent {
public:
    TCustomComPort* ComPort() const { return comPort_; }
    // Used only by the port's constructor.
    void SetComPort(TCustomComPort* port) { comPort_ = port; }

protected:
    TComSettingsObject() = default;
    // Copies never carry the owner along.
    TComSettingsObject(const TComSettingsObject&) : TPersistent() {}
    TComSettingsObject& operator=(const TComSettingsObject&) { return *this; }

private:
    TCustomComPort* comPort_ = nullptr;
};

class TComTimeouts : public TComSettingsObject {
public:
    const char* ClassName() const override { return "TComTimeouts"; }

    std::int32_t ReadInterval() const { return readInterval_; }
    std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
    std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
    std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }

    void SetReadInterval(std::int32_t value);
    void SetReadTotalMultiplier(std::int32_t value);
    void SetReadTotalConstant(std::int32_t value);
    void SetWriteTotalMultiplier(std::int32_t value);
    void SetWriteTotalConstant(std::int32_t value);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void Change(std::int32_t& field, std::int32_t value);

    std::int32_t readInterval_ = -1;
    std::int32_t readTotalMultiplier_ = 0;
    std::int32_t readTotalConstant_ = 0;
    std::int32_t writeTotalMultiplier_ = 100;
    std::int32_t writeTotalConstant_ = 889;
};

class TComFlowControl : public TComSettingsObject {
public:
    const char* ClassName() const override { return "TComFlowControl"; }

    // The preset, derived from ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut.
    TFlowControl FlowControl() const;
    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }

    // Always runs, even for the preset already in force, and re-applies once.
    void SetFlowControl(TFlowControl value);
    void SetOutCTSFlow(bool value);
    void SetOutDSRFlow(bool value);
    void SetControlDTR(TDTRFlowControl value);
    void SetControlRTS(TRTSFlowControl value);
    void SetXonXoffOut(bool value);
    void SetXonXoffIn(bool value);
    void SetDSRSensitivity(bool value);
    void SetTxContinueOnXoff(bool value);
    void SetXonChar(char value);
    void SetXoffChar(char value);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    template <typename T>
    void Change(T& field, T value);
    void Apply();

    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    char xonChar_ = 17;
    char xoffChar_ = 19;
};

class TComParity : public TComSettingsObject {
public:
    const char* ClassName() const override { return "TComParity"; }

    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    char ReplaceChar() const { return replaceChar_; }

    void SetBits(TParityBits value);
    void SetCheck(bool value);
    void SetReplace(bool value);
    void SetReplaceChar(char value);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    template <typename T>
    void Change(T& field, T value);

    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replaceChar_ = 0;
};

class TComBuffer : public TComSettingsObject {
public:
    const char* ClassName() const override { return "TComBuffer"; }

    std::int32_t InputSize() const { return inputSize_; }
    std::int32_t OutputSize() const { return outputSize_; }

    // An odd positive size steps down to the even size below it.
    void SetInputSize(std::int32_t value);
    void SetOutputSize(std::int32_t value);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void Change(std::int32_t& field, std::int32_t value);

    std::int32_t inputSize_ = 1024;
    std::int32_t outputSize_ = 1024;
};
