#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <optional>

namespace tarn {

// Reads one HTTP/1.1 response as it arrives, in pieces of any size: the head, then the body framed by
// Content-Length, chunked transfer coding, or the end of the connection. Body bytes are handed on as
// views into the data fed, never collected, so a body of any size costs no memory here.
class HttpResponseParser {
public:
    struct Head {
        int statusCode = 0;
        QList<QPair<QByteArray, QByteArray>> headers; // names as sent, values trimmed

        // The value of the first header of that name (case-insensitive), or an empty array.
        QByteArray header(QByteArrayView name) const;
        // The body length the head announces; absent for chunked or connection-delimited bodies.
        std::optional<qint64> contentLength;
    };

    struct Handlers {
        // The final head (informational 1xx heads are skipped). Answer false to stop: nothing more is
        // parsed or handed on.
        std::function<bool(const Head&)> head;
        std::function<void(QByteArrayView)> body;
        std::function<void()> complete;
    };

    explicit HttpResponseParser(Handlers handlers);

    // Consumes `data`. After a failure or the completion everything fed is ignored.
    void feed(QByteArrayView data);
    // The connection closed: completes a body that runs to the end of the connection, fails otherwise
    // (unless already complete).
    void connectionClosed();

    bool isComplete() const { return state == State::complete; }
    bool hasFailed() const { return state == State::failed; }
    bool isStopped() const { return state == State::stopped; }
    // Why parsing failed, for the transport error's description.
    const QString& failure() const { return failureText; }

private:
    enum class State {
        head,
        sizedBody,
        chunkSize,
        chunkData,
        chunkDataEnd,
        trailers,
        bodyToClose,
        complete,
        failed,
        stopped
    };

    bool parseHead();
    bool takeLine(QByteArrayView& data, QByteArray& line);
    void fail(const QString& why);
    void finish();

    Handlers handlers;
    State state = State::head;
    QByteArray pending; // an unfinished head, or an unfinished chunk-size or trailer line
    Head current;
    qint64 remaining = 0;
    QString failureText;
};

} // namespace tarn
