#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace tarn {

// Base of every error this system throws. Log lines embed an error's description or its debug text,
// so every error can render both; what() gives the description for code that only knows std::exception.
class Error : public std::exception {
public:
    // Human-readable text, as a log line or a wrapping message embeds it.
    virtual QString localizedDescription() const = 0;
    // Case name and payload, as a developer reads it in a log line.
    virtual QString debugDescription() const = 0;

    const char* what() const noexcept override;

private:
    mutable QByteArray whatText;
};

// The platform's own failure (a process that cannot start, a file that cannot be opened or listed),
// passed on unchanged by the services that meet it.
class SystemError final : public Error {
public:
    explicit SystemError(QString message) : message(std::move(message)) {}

    QString localizedDescription() const override { return message; }
    QString debugDescription() const override;

private:
    QString message;
};

// The description of any caught exception, whether or not it is one of ours.
QString localizedDescription(const std::exception& error);
QString debugDescription(const std::exception& error);
QString localizedDescription(const std::exception_ptr& error);
QString debugDescription(const std::exception_ptr& error);

// Renders a text the way a debug dump quotes it: in double quotes, with quotes, backslashes
// and line breaks escaped by a backslash.
QString quotedForDebug(const QString& text);

} // namespace tarn
