#include "services/PropertyList.h"

#include "fixtures/Packages.h"
#include "services/FileReference.h"
#include "services/NestingDepth.h"

#include <gtest/gtest.h>

namespace tarn {

using namespace Qt::StringLiterals;
namespace {

PropertyList sample() {
    PropertyList volume = PropertyList::dictionary();
    volume.insert(u"mount-point"_s, PropertyList::string(u"/Volumes/Scan Pro \u00e9"_s));
    volume.insert(u"writable"_s, PropertyList::boolean(false));
    PropertyList entities = PropertyList::array();
    entities.append(PropertyList::integer(7));
    entities.append(std::move(volume));
    PropertyList root = PropertyList::dictionary();
    root.insert(u"zeta"_s, PropertyList::string(u"last key first"_s));
    root.insert(u"system-entities"_s, std::move(entities));
    root.insert(u"alpha"_s, PropertyList::string(QString()));
    return root;
}

TEST(PropertyList, ReadsBackBothFormatsWithTextsKindsAndOrderIntact) {
    for (const QByteArray& bytes : {sample().toXml(), sample().toBinary()}) {
        const PropertyList parsed = PropertyList::parse(bytes);
        const PropertyListNode root = parsed.root();

        QStringList keys;
        for (const auto& [key, value] : root.entries()) {
            keys.append(key);
        }
        EXPECT_EQ(keys, QStringList({u"zeta"_s, u"system-entities"_s, u"alpha"_s}));
        const QList<PropertyListNode> entities = root.value(u"system-entities"_s).elements();
        ASSERT_EQ(entities.size(), 2);
        EXPECT_FALSE(entities[0].isDictionary());
        EXPECT_EQ(entities[0].string(), std::nullopt);
        EXPECT_EQ(entities[1].value(u"mount-point"_s).string(), u"/Volumes/Scan Pro \u00e9"_s);
        EXPECT_EQ(entities[1].value(u"writable"_s).string(), std::nullopt);
        EXPECT_EQ(root.value(u"alpha"_s).string(), QString());
    }
}

TEST(PropertyList, RefusesBytesThatAreNoPropertyList) {
    for (const QByteArray& bytes : {QByteArray(), QByteArray("hdiutil: attach failed\n"),
                                    QByteArray("bplist00\x01\x02"), QByteArray("{ CFBundleVersion = 1; }")}) {
        EXPECT_THROW(PropertyList::parse(bytes), PropertyListError) << bytes.toStdString();
    }
    // A binary list may carry a NUL character inside a UTF-16 key, on which libplist aborts when the key is read.
    PropertyList root = PropertyList::dictionary();
    root.insert(u"Contents/\u00e9?b"_s, PropertyList::string(u"x"_s));
    const QByteArray withNul = root.toBinary().replace(QByteArray("\0\xe9\0?", 4), QByteArray("\0\xe9\0\0", 4));
    ASSERT_TRUE(withNul.contains(QByteArray("\0\xe9\0\0", 4)));
    EXPECT_THROW(PropertyList::parse(withNul), PropertyListError);
}

// The parser recurses per level: an over-deep document is refused before it is parsed, not by a crash.
TEST(PropertyList, RefusesDocumentsNestedDeeperThanTheLimit) {
    using fixtures::nestedPropertyList;
    const int limit = maxDocumentDepth;
    const struct {
        const char* name;
        QByteArray bytes;
        bool accepted;
    } cases[] = {
            {"XML at the limit (<plist> is a level)", nestedPropertyList(limit - 1, false), true},
            {"XML one deeper", nestedPropertyList(limit, false), false},
            {"XML 200,000 deep", nestedPropertyList(200'000, false), false},
            {"binary at the limit", nestedPropertyList(limit, true), true},
            {"binary one deeper", nestedPropertyList(limit + 1, true), false},
            {"binary 200,000 deep", nestedPropertyList(200'000, true), false},
            {"binary that contains itself", nestedPropertyList(3, true, true), false},
    };
    for (const auto& document : cases) {
        SCOPED_TRACE(document.name);
        if (document.accepted) {
            EXPECT_TRUE(PropertyList::parse(document.bytes).root().isArray());
        } else {
            EXPECT_THROW(PropertyList::parse(document.bytes), PropertyListError);
        }
    }
    // Comments, CDATA and quoted '>' are no elements.
    EXPECT_FALSE(xmlNestsDeeperThan("<a x='>'><!-- <b><c> --><![CDATA[<d><e>]]><f/></a>", 1));
    EXPECT_TRUE(xmlNestsDeeperThan("<a x='>'><b><c/></b></a>", 1));
}

TEST(FileReference, NamesTheLocalFileOfEachAcceptedForm) {
    const struct {
        const char* text;
        const char* localPath; // null: not a local file
        const char* shown;     // null: the text itself
    } cases[] = {
            {"/tmp/Scan Pro/100%.pkg", "/tmp/Scan Pro/100%.pkg", nullptr},
            {"/tmp/a%20b?x#y.pkg", "/tmp/a%20b?x#y.pkg", nullptr},
            {"//tmp/x.pkg", "/tmp/x.pkg", "/tmp/x.pkg"},
            {"file:///tmp/a%20b.pkg", "/tmp/a b.pkg", nullptr},
            {"file://localhost/tmp/x.pkg", "/tmp/x.pkg", nullptr},
            {"downloads/x.pkg", "downloads/x.pkg", nullptr},
            {"file://server/share/x.pkg", nullptr, nullptr},
            {"https://example.com/x.pkg", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<QUrl> location = fileReference(QString::fromUtf8(c.text));
        ASSERT_TRUE(location);
        EXPECT_EQ(localFilePath(*location), c.localPath ? std::optional(QString::fromUtf8(c.localPath)) : std::nullopt);
        EXPECT_EQ(locationText(*location), QString::fromUtf8(c.shown ? c.shown : c.text));
    }
}

} // namespace
} // namespace tarn
