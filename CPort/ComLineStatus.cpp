#include "ComLineStatus.h"

using namespace Comm;

TComSignals SignalsFromModemStatus(std::uint32_t status)
{
    TComSignals signals;
    if (status & MS_CTS_ON)
        signals.Include(csCTS);
    if (status & MS_DSR_ON)
        signals.Include(csDSR);
    if (status & MS_RING_ON)
        signals.Include(csRing);
    if (status & MS_RLSD_ON)
        signals.Include(csRLSD);
    return signals;
}

TComErrors ErrorsFromErrorWord(std::uint32_t errors, bool parityCheck)
{
    TComErrors result;
    if (errors & CE_FRAME)
        result.Include(ceFrame);
    if (parityCheck && (errors & CE_RXPARITY))
        result.Include(ceRxParity);
    if (errors & CE_OVERRUN)
        result.Include(ceOverrun);
    if (errors & CE_RXOVER)
        result.Include(ceRxOver);
    if (errors & CE_TXFULL)
        result.Include(ceTxFull);
    if (errors & CE_BREAK)
        result.Include(ceBreak);
    if (errors & CE_IOE)
        result.Include(ceIO);
    if (errors & CE_MODE)
        result.Include(ceMode);
    return result;
}
