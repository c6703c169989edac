#pragma once

// The line the platform suite runs on: the port under test, opened through
// the layer by its name, and its far end, which the test plays. On Linux both
// ends are a pseudo-terminal the suite makes itself; on Windows the port and
// the far end are two COM ports joined by a null-modem line (under Wine, two
// pseudo-terminals the harness joins), named by ZORBEL_TEST_PORT and
// ZORBEL_TEST_PEER.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace PlatformTest {

class TTestLine {
public:
    virtual ~TTestLine() = default;
    // The name the port under test opens by.
    virtual std::string PortName() const = 0;
    // Sends bytes from the far end; true when all of them went.
    virtual bool Send(std::string_view bytes) = 0;
    // What arrived at the far end: count bytes, or fewer when the limit passed.
    virtual std::string Receive(std::size_t count, std::chrono::milliseconds limit) = 0;
    // Drops what the far end received and did not read.
    virtual void Discard() = 0;
};

// A fresh line, or nothing with the reason in why.
std::unique_ptr<TTestLine> OpenTestLine(std::string& why);

// A name no port on this platform has.
std::string MissingPortName();

// True when the Windows backend runs under Wine, whose serial driver differs
// from Windows' in the ways the tests name where they skip.
bool UnderWine();

} // namespace PlatformTest
