#include "ComSettings.h"

#include "ComPort.h"

// ---- TComTimeouts ----------------------------------------------------------

void TComTimeouts::Change(std::int32_t& field, std::int32_t value)
{
    if (field == value)
        return;
    field = value;
    if (ComPort())
        ComPort()->ApplyTimeouts();
}

void TComTimeouts::SetReadInterval(std::int32_t value) { Change(readInterval_, value); }
void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) { Change(readTotalMultiplier_, value); }
void TComTimeouts::SetReadTotalConstant(std::int32_t value) { Change(readTotalConstant_, value); }
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) { Change(writeTotalMultiplier_, value); }
void TComTimeouts::SetWriteTotalConstant(std::int32_t value) { Change(writeTotalConstant_, value); }

void TComTimeouts::AssignTo(TPersistent& dest) const
{
    auto* other = dynamic_cast<TComTimeouts*>(&dest);
    if (!other) {
        TPersistent::AssignTo(dest);
        return;
    }
    // Fields are copied directly so that the destination's port does not re-apply.
    other->readInterval_ = readInterval_;
    other->readTotalMultiplier_ = readTotalMultiplier_;
    other->readTotalConstant_ = readTotalConstant_;
    other->writeTotalMultiplier_ = writeTotalMultiplier_;
    other->writeTotalConstant_ = writeTotalConstant_;
}

// ---- TComFlowControl -------------------------------------------------------

void TComFlowControl::Apply()
{
    if (ComPort())
        ComPort()->ApplyControlBlock();
}

template <typename T>
void TComFlowControl::Change(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    Apply();
}

TFlowControl TComFlowControl::FlowControl() const
{
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_)
        return fcHardware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_)
        return fcSoftware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value)
{
    if (value != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        switch (value) {
        case fcHardware:
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
            break;
        case fcSoftware:
            xonXoffIn_ = true;
            xonXoffOut_ = true;
            break;
        default:
            break;
        }
    }
    Apply();
}

void TComFlowControl::SetOutCTSFlow(bool value) { Change(outCTSFlow_, value); }
void TComFlowControl::SetOutDSRFlow(bool value) { Change(outDSRFlow_, value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl value) { Change(controlDTR_, value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl value) { Change(controlRTS_, value); }
void TComFlowControl::SetXonXoffOut(bool value) { Change(xonXoffOut_, value); }
void TComFlowControl::SetXonXoffIn(bool value) { Change(xonXoffIn_, value); }
void TComFlowControl::SetDSRSensitivity(bool value) { Change(dsrSensitivity_, value); }
void TComFlowControl::SetTxContinueOnXoff(bool value) { Change(txContinueOnXoff_, value); }
void TComFlowControl::SetXonChar(char value) { Change(xonChar_, value); }
void TComFlowControl::SetXoffChar(char value) { Change(xoffChar_, value); }

void TComFlowControl::AssignTo(TPersistent& dest) const
{
    auto* other = dynamic_cast<TComFlowControl*>(&dest);
    if (!other) {
        TPersistent::AssignTo(dest);
        return;
    }
    other->outCTSFlow_ = outCTSFlow_;
    other->outDSRFlow_ = outDSRFlow_;
    other->controlDTR_ = controlDTR_;
    other->controlRTS_ = controlRTS_;
    other->xonXoffOut_ = xonXoffOut_;
    other->xonXoffIn_ = xonXoffIn_;
    other->dsrSensitivity_ = dsrSensitivity_;
    other->txContinueOnXoff_ = txContinueOnXoff_;
    other->xonChar_ = xonChar_;
    other->xoffChar_ = xoffChar_;
}

// ---- TComParity ------------------------------------------------------------

template <typename T>
void TComParity::Change(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    if (ComPort())
        ComPort()->ApplyControlBlock();
}

void TComParity::SetBits(TParityBits value) { Change(bits_, value); }
void TComParity::SetCheck(bool value) { Change(check_, value); }
void TComParity::SetReplace(bool value) { Change(replace_, value); }
void TComParity::SetReplaceChar(char value) { Change(replaceChar_, value); }

void TComParity::AssignTo(TPersistent& dest) const
{
    auto* other = dynamic_cast<TComParity*>(&dest);
    if (!other) {
        TPersistent::AssignTo(dest);
        return;
    }
    other->bits_ = bits_;
    other->check_ = check_;
    other->replace_ = replace_;
    other->replaceChar_ = replaceChar_;
}

// ---- TComBuffer ------------------------------------------------------------

void TComBuffer::Change(std::int32_t& field, std::int32_t value)
{
    if (field == value)
        return;
    // Truncating remainder: a negative size never steps down.
    field = (value % 2 == 1) ? value - 1 : value;
    if (ComPort())
        ComPort()->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(std::int32_t value) { Change(inputSize_, value); }
void TComBuffer::SetOutputSize(std::int32_t value) { Change(outputSize_, value); }

void TComBuffer::AssignTo(TPersistent& dest) const
{
    auto* other = dynamic_cast<TComBuffer*>(&dest);
    if (!other) {
        TPersistent::AssignTo(dest);
        return;
    }
    other->outputSize_ = outputSize_;
    other->inputSize_ = inputSize_;
}
