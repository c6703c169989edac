#include "Persistent.h"

#include "ComExceptions.h"

void TPersistent::AssignTo(TPersistent& dest) const
{
    dest.AssignError(*this);
}

void TPersistent::AssignError(const TPersistent& source) const
{
    throw EConvertError(QStringLiteral("Cannot assign a %1 to a %2")
                            .arg(QString::fromLatin1(source.ClassName()), QString::fromLatin1(ClassName())));
}
