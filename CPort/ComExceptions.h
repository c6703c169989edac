#pragma once

#include <QString>

#include <exception>
#include <string>

// Base of every exception the component raises: a message text and a help
// context, as the component's callers expect from any error they catch.
class Exception : public std::exception {
public:
    explicit Exception(const QString& message, int helpContext = 0);

    const QString& Message() const { return message_; }
    int HelpContext() const { return helpContext_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString message_;
    std::string utf8_;
    int helpContext_;
};

// Raised when a settings object is copied into an object of another class.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
