#include "services/HttpResponseParser.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

struct Parsed {
    std::optional<HttpResponseParser::Head> head;
    QByteArray body;
    int completions = 0;
    bool failed = false;
};

// Feeds `response` in pieces of `pieceSize` bytes (the whole at once for 0), then closes if asked.
Parsed parse(const QByteArray& response, qsizetype pieceSize, bool close, bool acceptHead = true) {
    Parsed parsed;
    HttpResponseParser parser({[&](const HttpResponseParser::Head& head) {
                                   parsed.head = head;
                                   return acceptHead;
                               },
                               [&](QByteArrayView body) { parsed.body += body.toByteArray(); },
                               [&] { ++parsed.completions; }});
    const qsizetype step = pieceSize == 0 ? std::max<qsizetype>(response.size(), 1) : pieceSize;
    for (qsizetype offset = 0; offset < response.size(); offset += step) {
        parser.feed(QByteArrayView(response).sliced(offset, std::min(step, response.size() - offset)));
    }
    if (close) {
        parser.connectionClosed();
    }
    parsed.failed = parser.hasFailed();
    EXPECT_EQ(parser.hasFailed(), !parser.failure().isEmpty());
    return parsed;
}

struct ResponseCase {
    const char* name;
    QByteArray response;
    bool close;
    int status;                     // 0: no head is expected
    std::optional<QByteArray> body; // unset: the response is refused
};

const QByteArray ok = "HTTP/1.1 200 OK\r\n";
const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";

class HttpResponseParserTest : public ::testing::TestWithParam<ResponseCase> {};

// Whatever the pieces the network delivers, the same head and body come out, once.
TEST_P(HttpResponseParserTest, GivesTheSameResultForAnySplitOfTheResponse) {
    const ResponseCase& c = GetParam();
    for (const qsizetype pieceSize : {qsizetype(0), qsizetype(1), qsizetype(2), qsizetype(7)}) {
        const Parsed parsed = parse(c.response, pieceSize, c.close);
        SCOPED_TRACE(pieceSize);
        EXPECT_EQ(parsed.failed, !c.body);
        EXPECT_EQ(parsed.completions, c.body ? 1 : 0);
        EXPECT_EQ(parsed.head ? parsed.head->statusCode : 0, c.status);
        if (c.body) {
            EXPECT_EQ(parsed.body, *c.body);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
        Responses, HttpResponseParserTest,
        ::testing::Values(
                ResponseCase{"SizedBody", ok + "Content-Length: 5\r\n\r\nhello", false, 200, "hello"},
                ResponseCase{"BytesAfterTheBodyAreIgnored", ok + "Content-Length: 2\r\n\r\nhello", false, 200, "he"},
                ResponseCase{"ChunkedWithExtensionsAndTrailers",
                             ok + "Transfer-Encoding: gzip, chunked\r\nContent-Length: 99\r\n\r\n4;name=value\r\n"
                                  "Wiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nX-Trailer: 1\r\n\r\n",
                             false, 200, "Wikipedia in\r\n\r\nchunks."},
                ResponseCase{"BodyUntilClose", "HTTP/1.0 200 OK\r\nServer: old\r\n\r\nto the end", true, 200,
                             "to the end"},
                ResponseCase{"InterimAnswerIsSkipped",
                             "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone",
                             false, 404, "gone"},
                ResponseCase{"NotModifiedHasNoBody", "HTTP/1.1 304 Not Modified\r\nContent-Length: 100\r\n\r\n", false,
                             304, ""},
                ResponseCase{"EmptySizedBody", ok + "Content-Length: 0\r\n\r\n", false, 200, ""},
                ResponseCase{"TruncatedSizedBody", ok + "Content-Length: 10\r\n\r\nhello", true, 200, {}},
                ResponseCase{"TruncatedChunkedBody", chunked + "5\r\nhel", true, 200, {}},
                ResponseCase{"MalformedChunkSize", chunked + "zz\r\n", false, 200, {}},
                ResponseCase{"ChunkLongerThanAnnounced", chunked + "2\r\nabc\r\n0\r\n\r\n", false, 200, {}},
                ResponseCase{"ConflictingLengths", ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n", false, 0, {}},
                ResponseCase{"NegativeLength", ok + "Content-Length: -5\r\n\r\n", false, 0, {}},
                ResponseCase{"NotHttp", "SSH-2.0-OpenSSH_9.2\r\n\r\n", false, 0, {}},
                ResponseCase{"FourDigitStatus", "HTTP/1.1 2000 OK\r\n\r\n", false, 0, {}},
                ResponseCase{"FoldedHeader", ok + "X-A: 1\r\n continued\r\n\r\n", false, 0, {}},
                ResponseCase{"ClosedBeforeAnswering", "", true, 0, {}}),
        [](const auto& info) { return std::string(info.param.name); });

TEST(HttpResponseParserLimitsTest, AnEndlessHeadIsRefused) {
    const QByteArray head = "HTTP/1.1 200 OK\r\nX-Padding: " + QByteArray(70 << 10, 'a');
    const Parsed parsed = parse(head, 4096, false);
    EXPECT_TRUE(parsed.failed);
    EXPECT_FALSE(parsed.head);
}

TEST(HttpResponseParserLimitsTest, StoppingAtTheHeadHandsOnNoBody) {
    const Parsed parsed = parse("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 3\r\n\r\nabc", 0, true,
                                /*acceptHead*/ false);
    ASSERT_TRUE(parsed.head);
    EXPECT_EQ(parsed.head->header("location"), QByteArray("/elsewhere"));
    EXPECT_EQ(parsed.head->contentLength, 3);
    EXPECT_TRUE(parsed.body.isEmpty());
    EXPECT_EQ(parsed.completions, 0);
    EXPECT_FALSE(parsed.failed);
}

} // namespace
} // namespace tarn
