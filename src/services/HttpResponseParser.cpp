#include "services/HttpResponseParser.h"

namespace tarn {

namespace {

constexpr qsizetype maxHeadBytes = 64 << 10;
constexpr qsizetype maxLineBytes = 8 << 10;

std::optional<qint64> decimal(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 18) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<qint64> hexadecimal(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 15) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (const char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

QByteArray HttpResponseParser::Head::header(QByteArrayView name) const {
    for (const auto& [headerName, value] : headers) {
        if (headerName.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

HttpResponseParser::HttpResponseParser(Handlers handlers) : handlers(std::move(handlers)) {}

void HttpResponseParser::feed(QByteArrayView data) {
    QByteArray line;
    while (!data.isEmpty()) {
        switch (state) {
        case State::head: {
            // Only the head is collected; the terminator may straddle two pieces.
            const qsizetype carried = std::min<qsizetype>(pending.size(), 3);
            const QByteArray probe =
                    pending.right(carried) + data.first(std::min<qsizetype>(data.size(), maxHeadBytes)).toByteArray();
            const qsizetype end = probe.indexOf("\r\n\r\n");
            if (end < 0) {
                if (pending.size() + data.size() > maxHeadBytes) {
                    fail(QStringLiteral("The response head is too large"));
                    return;
                }
                pending += data.toByteArray();
                return;
            }
            const qsizetype headPart = end + 4 - carried;
            pending += data.first(headPart).toByteArray();
            data = data.sliced(headPart);
            if (!parseHead()) {
                return;
            }
            break;
        }
        case State::sizedBody:
        case State::chunkData: {
            const qsizetype take = static_cast<qsizetype>(std::min<qint64>(remaining, data.size()));
            handlers.body(data.first(take));
            data = data.sliced(take);
            remaining -= take;
            if (remaining == 0) {
                if (state == State::sizedBody) {
                    finish();
                    return;
                }
                state = State::chunkDataEnd;
            }
            break;
        }
        case State::chunkSize: {
            if (!takeLine(data, line)) {
                return;
            }
            const qsizetype extension = line.indexOf(';');
            const auto size =
                    hexadecimal(QByteArrayView(line).first(extension < 0 ? line.size() : extension).trimmed());
            if (!size) {
                fail(QStringLiteral("The response carries a malformed chunk size"));
                return;
            }
            remaining = *size;
            state = remaining == 0 ? State::trailers : State::chunkData;
            break;
        }
        case State::chunkDataEnd:
            if (!takeLine(data, line)) {
                return;
            }
            if (!line.isEmpty()) {
                fail(QStringLiteral("A chunk of the response is longer than announced"));
                return;
            }
            state = State::chunkSize;
            break;
        case State::trailers:
            if (!takeLine(data, line)) {
                return;
            }
            if (line.isEmpty()) {
                finish();
                return;
            }
            break;
        case State::bodyToClose:
            handlers.body(data);
            return;
        case State::complete:
        case State::failed:
        case State::stopped:
            return;
        }
    }
}

void HttpResponseParser::connectionClosed() {
    switch (state) {
    case State::bodyToClose:
        finish();
        break;
    case State::complete:
    case State::failed:
    case State::stopped:
        break;
    case State::head:
        fail(pending.isEmpty() ? QStringLiteral("The server closed the connection without answering")
                               : QStringLiteral("The server closed the connection in the middle of the response head"));
        break;
    default:
        fail(QStringLiteral("The server closed the connection before the whole response arrived"));
        break;
    }
}

bool HttpResponseParser::parseHead() {
    const QList<QByteArray> lines = pending.chopped(4).split('\n');
    pending.clear();
    const auto withoutReturn = [](const QByteArray& text) { return text.endsWith('\r') ? text.chopped(1) : text; };

    const QByteArray statusLine = withoutReturn(lines.first());
    const QList<QByteArray> statusParts = statusLine.split(' ');
    const qint64 status =
            statusParts.size() >= 2 && statusParts.at(1).size() == 3 ? decimal(statusParts.at(1)).value_or(-1) : -1;
    if (!statusParts.first().startsWith("HTTP/1.") || status < 100) {
        fail(QStringLiteral("The server did not answer with HTTP/1.x"));
        return false;
    }
    current = Head{};
    current.statusCode = static_cast<int>(status);
    std::optional<qint64> announcedLength;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray headerLine = withoutReturn(lines.at(i));
        const qsizetype colon = headerLine.indexOf(':');
        if (colon <= 0 || headerLine.front() == ' ' || headerLine.front() == '\t') {
            fail(QStringLiteral("The response head holds a malformed header"));
            return false;
        }
        const QByteArray name = headerLine.left(colon).trimmed();
        const QByteArray value = headerLine.mid(colon + 1).trimmed();
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            const auto length = decimal(value);
            // Two different lengths would let the body be cut in two ways: refused, not guessed.
            if (!length || (announcedLength && *announcedLength != *length)) {
                fail(QStringLiteral("The response announces an invalid or conflicting Content-Length"));
                return false;
            }
            announcedLength = length;
        }
        current.headers.append({name, value});
    }

    if (current.statusCode < 200) {
        if (current.statusCode == 101) {
            fail(QStringLiteral("The server switched protocols unasked"));
            return false;
        }
        return true; // an interim answer: the real head follows
    }

    const QByteArray codings = current.header("Transfer-Encoding");
    const bool hasBody = current.statusCode != 204 && current.statusCode != 304;
    State bodyState = State::complete;
    if (hasBody && !codings.isEmpty()) {
        const QByteArray lastCoding = codings.mid(codings.lastIndexOf(',') + 1).trimmed();
        bodyState = lastCoding.compare("chunked", Qt::CaseInsensitive) == 0 ? State::chunkSize : State::bodyToClose;
    } else if (hasBody && announcedLength) {
        current.contentLength = announcedLength;
        remaining = *announcedLength;
        bodyState = remaining > 0 ? State::sizedBody : State::complete;
    } else if (hasBody) {
        bodyState = State::bodyToClose;
    }

    if (!handlers.head(current)) {
        state = State::stopped;
        return false;
    }
    if (bodyState == State::complete) {
        finish();
        return false;
    }
    state = bodyState;
    return true;
}

bool HttpResponseParser::takeLine(QByteArrayView& data, QByteArray& line) {
    const qsizetype end = data.indexOf('\n');
    if (end < 0) {
        pending += data.toByteArray();
        data = {};
        if (pending.size() > maxLineBytes) {
            fail(QStringLiteral("The response holds an overlong line"));
        }
        return false;
    }
    pending += data.first(end).toByteArray();
    data = data.sliced(end + 1);
    line = pending.endsWith('\r') ? pending.chopped(1) : pending;
    pending.clear();
    return true;
}

void HttpResponseParser::fail(const QString& why) {
    state = State::failed;
    failureText = why;
}

void HttpResponseParser::finish() {
    state = State::complete;
    handlers.complete();
}

} // namespace tarn
