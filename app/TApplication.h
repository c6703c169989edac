#pragma once

#include <QApplication>

// The application object: an exception that escapes an event handler is shown
// in a message box, and the program goes on.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // The application's standard report of an error to the user.
    void ShowException(const QString& message);

    // The caption of the application's message boxes: the program's name
    // ("zorbel-flash" unless the program sets its own after construction).
    // It is not the display name: with one set, desktop platforms append it
    // to every window title.
    static QString MessageCaption() { return applicationName(); }
};
