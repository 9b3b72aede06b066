#pragma once

#include <QString>

#include <stdexcept>

namespace tarn::tool {

// A failure the tool reports to its user and exits on; the message is written for a person.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const QString& message) : std::runtime_error(message.toStdString()) {}

    QString message() const { return QString::fromStdString(what()); }
};

} // namespace tarn::tool
