#pragma once

#include <functional>

class QObject;

// The application-wide exception display. The component library cannot show
// a message box itself; the application installs its own display, and
// without one the message goes to standard error.
using TApplicationExceptionHandler = std::function<void(QObject* sender, const char* message)>;

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler);

// Call from inside a catch block: hands the exception being handled to the
// application's display.
void HandleApplicationException(QObject* sender);
