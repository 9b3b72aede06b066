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
    int status;
    QByteArray body; // expected when the response is whole
    bool whole;
};

class HttpResponseParserTest : public ::testing::TestWithParam<ResponseCase> {};

// Whatever the pieces the network delivers, the same head and body come out, once.
TEST_P(HttpResponseParserTest, GivesTheSameResultForAnySplitOfTheResponse) {
    const ResponseCase& c = GetParam();
    for (const qsizetype pieceSize : {qsizetype(0), qsizetype(1), qsizetype(2), qsizetype(7)}) {
        const Parsed parsed = parse(c.response, pieceSize, c.close);
        SCOPED_TRACE(pieceSize);
        EXPECT_EQ(parsed.failed, !c.whole);
        EXPECT_EQ(parsed.completions, c.whole ? 1 : 0);
        if (c.status != 0) {
            ASSERT_TRUE(parsed.head);
            EXPECT_EQ(parsed.head->statusCode, c.status);
        }
        if (c.whole) {
            EXPECT_EQ(parsed.body, c.body);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
        Responses, HttpResponseParserTest,
        ::testing::Values(
                ResponseCase{"SizedBody", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, 200, "hello",
                             true},
                ResponseCase{"BytesAfterTheBodyAreIgnored", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhello", false,
                             200, "he", true},
                ResponseCase{
                        "ChunkedWithExtensionsAndTrailers",
                        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\nContent-Length: 99\r\n\r\n"
                        "4;name=value\r\nWiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nX-Trailer: 1\r\n\r\n",
                        false, 200, "Wikipedia in\r\n\r\nchunks.", true},
                ResponseCase{"BodyUntilClose", "HTTP/1.0 200 OK\r\nServer: old\r\n\r\nto the end", true, 200,
                             "to the end", true},
                ResponseCase{"InterimAnswerIsSkipped",
                             "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone",
                             false, 404, "gone", true},
                ResponseCase{"NotModifiedHasNoBody", "HTTP/1.1 304 Not Modified\r\nContent-Length: 100\r\n\r\n", false,
                             304, "", true},
                ResponseCase{"EmptySizedBody", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, 200, "", true},
                ResponseCase{"TruncatedSizedBody", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", true, 200, "",
                             false},
                ResponseCase{"TruncatedChunkedBody", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
                             true, 200, "", false},
                ResponseCase{"MalformedChunkSize", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false,
                             200, "", false},
                ResponseCase{"ChunkLongerThanAnnounced",
                             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n", false, 200,
                             "", false},
                ResponseCase{"ConflictingLengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
                             false, 0, "", false},
                ResponseCase{"NegativeLength", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", false, 0, "", false},
                ResponseCase{"NotHttp", "SSH-2.0-OpenSSH_9.2\r\n\r\n", false, 0, "", false},
                ResponseCase{"FourDigitStatus", "HTTP/1.1 2000 OK\r\n\r\n", false, 0, "", false},
                ResponseCase{"FoldedHeader", "HTTP/1.1 200 OK\r\nX-A: 1\r\n continued\r\n\r\n", false, 0, "", false},
                ResponseCase{"ClosedBeforeAnswering", "", true, 0, "", false}),
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
