#include "services/PropertyList.h"

#include "fixtures/Packages.h"
#include "services/FileReference.h"
#include "services/NestingDepth.h"

#include <gtest/gtest.h>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

// Reading both formats back (texts, kinds, key order) is proven where the services parse what the tools print.
TEST(PropertyList, RefusesBytesThatAreNoPropertyList) {
    // A binary list may carry a NUL character inside a UTF-16 key, on which libplist aborts when the key is read.
    PropertyList root = PropertyList::dictionary();
    root.insert(u"Contents/\u00e9?b"_s, PropertyList::string(u"x"_s));
    const QByteArray withNul = root.toBinary().replace(QByteArray("\0\xe9\0?", 4), QByteArray("\0\xe9\0\0", 4));
    ASSERT_TRUE(withNul.contains(QByteArray("\0\xe9\0\0", 4)));
    for (const QByteArray& bytes : {QByteArray(), QByteArray("bplist00\x01\x02"), withNul}) {
        EXPECT_THROW(PropertyList::parse(bytes), PropertyListError) << bytes.toStdString();
    }
}

// The parser recurses per level: an over-deep document is refused before it is parsed, not by a crash.
TEST(PropertyList, RefusesDocumentsNestedDeeperThanTheLimit) {
    using fixtures::nestedPropertyList;
    const int limit = maxDocumentDepth;
    const std::tuple<const char*, QByteArray, bool> cases[] = {
            {"XML at the limit (<plist> is a level)", nestedPropertyList(limit - 1, false), true},
            {"XML one deeper", nestedPropertyList(limit, false), false},
            {"binary at the limit", nestedPropertyList(limit, true), true},
            {"binary one deeper", nestedPropertyList(limit + 1, true), false},
            {"binary 200,000 deep", nestedPropertyList(200'000, true), false},
            {"binary that contains itself", nestedPropertyList(3, true, true), false},
    };
    for (const auto& [name, bytes, accepted] : cases) {
        SCOPED_TRACE(name);
        if (accepted) {
            EXPECT_TRUE(PropertyList::parse(bytes).root().isArray());
        } else {
            EXPECT_THROW(PropertyList::parse(bytes), PropertyListError);
        }
    }
    // Comments, CDATA and quoted '>' are no elements.
    EXPECT_FALSE(xmlNestsDeeperThan("<a x='>'><!-- <b><c> --><![CDATA[<d><e>]]><f/></a>", 1));
    EXPECT_TRUE(xmlNestsDeeperThan("<a x='>'><b><c/></b></a>", 1));
}

TEST(FileReference, NamesTheLocalFileOfEachAcceptedForm) {
    // localPath: null: not a local file; shown: null: the text itself
    const std::tuple<const char*, const char*, const char*> cases[] = {
            {"/tmp/Scan Pro/100%.pkg", "/tmp/Scan Pro/100%.pkg", nullptr},
            {"/tmp/a%20b?x#y.pkg", "/tmp/a%20b?x#y.pkg", nullptr},
            {"//tmp/x.pkg", "/tmp/x.pkg", "/tmp/x.pkg"},
            {"file:///tmp/a%20b.pkg", "/tmp/a b.pkg", nullptr},
            {"file://localhost/tmp/x.pkg", "/tmp/x.pkg", nullptr},
            {"downloads/x.pkg", "downloads/x.pkg", nullptr},
            {"file://server/share/x.pkg", nullptr, nullptr},
            {"https://example.com/x.pkg", nullptr, nullptr},
    };
    for (const auto& [text, localPath, shown] : cases) {
        SCOPED_TRACE(text);
        const std::optional<QUrl> location = fileReference(QString::fromUtf8(text));
        ASSERT_TRUE(location);
        EXPECT_EQ(localFilePath(*location), localPath ? std::optional(QString::fromUtf8(localPath)) : std::nullopt);
        EXPECT_EQ(locationText(*location), QString::fromUtf8(shown ? shown : text));
    }
}

} // namespace
} // namespace tarn
