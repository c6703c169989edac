#include "ComExceptions.h"

Exception::Exception(const QString& message, int helpContext)
    : message_(message), utf8_(message.toStdString()), helpContext_(helpContext)
{
}
