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

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler)
{
    std::lock_guard lock(handlerMutex);
    InstalledHandler() = std::move(handler);
}

void HandleApplicationException(QObject* sender)
{
    std::string message = "Unknown exception";
    try {
        throw;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
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
