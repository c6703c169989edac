#include "TestLine.h"

#include <windows.h>

#include <cstdlib>

namespace PlatformTest {

namespace {

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The far end is a second COM port, opened without overlapping so that its
// reads simply block until their count or their total timeout.
class TComLine final : public TTestLine {
public:
    TComLine(std::string port, HANDLE peer) : port_(std::move(port)), peer_(peer) {}
    ~TComLine() override { CloseHandle(peer_); }

    std::string PortName() const override { return port_; }

    bool Send(std::string_view bytes) override
    {
        DWORD written = 0;
        return WriteFile(peer_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }

    std::string Receive(std::size_t count, std::chrono::milliseconds limit) override
    {
        COMMTIMEOUTS timeouts{0, 0, static_cast<DWORD>(limit.count()), 0, 5000};
        SetCommTimeouts(peer_, &timeouts);
        std::string received(count, '\0');
        DWORD read = 0;
        if (!ReadFile(peer_, received.data(), static_cast<DWORD>(count), &read, nullptr))
            read = 0;
        received.resize(read);
        return received;
    }

    void Discard() override { PurgeComm(peer_, PURGE_RXCLEAR | PURGE_TXCLEAR); }

private:
    std::string port_;
    HANDLE peer_;
};

} // namespace

std::unique_ptr<TTestLine> OpenTestLine(std::string& why)
{
    const std::string port = Variable("ZORBEL_TEST_PORT");
    const std::string peer = Variable("ZORBEL_TEST_PEER");
    if (port.empty() || peer.empty()) {
        why = "ZORBEL_TEST_PORT and ZORBEL_TEST_PEER must name two COM ports joined by a null-modem line";
        return nullptr;
    }
    const std::string path = "\\\\.\\" + peer;
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = "the far end " + peer + " does not open (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = CBR_115200;
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    SetCommState(handle, &dcb);
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return std::make_unique<TComLine>(port, handle);
}

std::string MissingPortName()
{
    return "COM199";
}

// Wine's own ntdll exports its version; Windows' does not.
bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

} // namespace PlatformTest
