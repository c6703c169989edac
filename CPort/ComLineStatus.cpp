#include "ComLineStatus.h"

using namespace Comm;

TComSignals SignalsFromModemStatus(std::uint32_t status)
{
    TComSignals signals;
    if (status & MsCtsOn)
        signals.Include(csCTS);
    if (status & MsDsrOn)
        signals.Include(csDSR);
    if (status & MsRingOn)
        signals.Include(csRing);
    if (status & MsRlsdOn)
        signals.Include(csRLSD);
    return signals;
}

TComErrors ErrorsFromErrorWord(std::uint32_t errors, bool parityCheck)
{
    TComErrors result;
    if (errors & CeFrame)
        result.Include(ceFrame);
    if (parityCheck && (errors & CeRxParity))
        result.Include(ceRxParity);
    if (errors & CeOverrun)
        result.Include(ceOverrun);
    if (errors & CeRxOver)
        result.Include(ceRxOver);
    if (errors & CeTxFull)
        result.Include(ceTxFull);
    if (errors & CeBreak)
        result.Include(ceBreak);
    if (errors & CeIoe)
        result.Include(ceIO);
    if (errors & CeMode)
        result.Include(ceMode);
    return result;
}
