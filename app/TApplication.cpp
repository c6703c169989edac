#include "TApplication.h"

#include "ApplicationException.h"

#include <QMessageBox>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("zorbel-flash"));
    SetApplicationExceptionHandler(
        [this](QObject*, const char* message) { ShowException(QString::fromUtf8(message)); });
}

TApplication::~TApplication()
{
    SetApplicationExceptionHandler({});
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleApplicationException(receiver);
        return false;
    }
}

void TApplication::ShowException(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, MessageCaption(), message, QMessageBox::Ok, activeWindow());
    box.exec();
}
