#include "base/Error.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace tarn {

using namespace Qt::StringLiterals;

const char* Error::what() const noexcept {
    try {
        whatText = localizedDescription().toUtf8();
        return whatText.constData();
    } catch (...) {
        return "tarn::Error";
    }
}

QString SystemError::debugDescription() const {
    return u"SystemError(%1)"_s.arg(quotedForDebug(message));
}

QString localizedDescription(const std::exception& error) {
    if (const auto* ours = dynamic_cast<const Error*>(&error)) {
        return ours->localizedDescription();
    }
    return QString::fromUtf8(error.what());
}

QString debugDescription(const std::exception& error) {
    if (const auto* ours = dynamic_cast<const Error*>(&error)) {
        return ours->debugDescription();
    }
    return QString::fromUtf8(error.what());
}

namespace {

template <typename Describe>
QString describe(const std::exception_ptr& error, Describe&& describeException) {
    if (!error) {
        return {};
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return describeException(caught);
    } catch (...) {
        return u"An unknown error occurred."_s;
    }
}

} // namespace

QString localizedDescription(const std::exception_ptr& error) {
    return describe(error, [](const std::exception& e) { return localizedDescription(e); });
}

QString debugDescription(const std::exception_ptr& error) {
    return describe(error, [](const std::exception& e) { return debugDescription(e); });
}

namespace {

// The characters a debug description escapes, and how.
constexpr std::pair<char16_t, const char16_t*> debugEscapes[] = {
        {u'"', u"\\\""}, {u'\\', u"\\\\"}, {u'\n', u"\\n"}, {u'\r', u"\\r"}, {u'\t', u"\\t"}};

} // namespace

QString quotedForDebug(const QString& text) {
    QString quoted;
    quoted.reserve(text.size() + 2);
    quoted += u'"';
    for (const QChar c : text) {
        const auto* escape = std::find_if(std::begin(debugEscapes), std::end(debugEscapes),
                                          [c](const auto& entry) { return entry.first == c.unicode(); });
        if (escape != std::end(debugEscapes)) {
            quoted += QStringView(escape->second);
        } else {
            quoted += c;
        }
    }
    quoted += u'"';
    return quoted;
}

} // namespace tarn
