#include "ApplicationException.h"

#include <cstdio>
#include <exception>
#include <string>
#include <mutex>

namespace {
std::mutex handlerMutex;
TApplicationExceptionHandler& InstalledHandler()
{
    static TApplicationExceptionHandler handler;
    return handler;
}
} // namespace

TApplicationExceptionHandler SetApplicationExceptionHandler(TApplicationExceptionHandler handler)
{
    std::lock_guard lock(handlerMutex);
    std::swap(InstalledHandler(), handler);
    return handler;
}

std::string CurrentExceptionMessage()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

void HandleApplicationException(QObject* sender)
{
    ShowApplicationError(sender, CurrentExceptionMessage());
}

void ShowApplicationError(QObject* sender, const std::string& message)
{
    TApplicationExceptionHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = InstalledHandler();
    }
    if (handler)
        handler(sender, message.c_str());
    else
        std::fprintf(stderr, "%s\n", message.c_str());
}
