#pragma once

#include <functional>
#include <string>

class QObject;

// The application-wide exception display. The component library cannot show
// a message box itself; the application installs its own display, and
// without one the message goes to standard error.
using TApplicationExceptionHandler = std::function<void(QObject* sender, const char* message)>;

// Installs a display and returns the one it replaces.
TApplicationExceptionHandler SetApplicationExceptionHandler(TApplicationExceptionHandler handler);

// Call from inside a catch block: hands the exception being handled to the
// application's display.
void HandleApplicationException(QObject* sender);

// The message of the exception being handled, for showing it elsewhere.
std::string CurrentExceptionMessage();
// Shows a message as the display shows an exception.
void ShowApplicationError(QObject* sender, const std::string& message);
