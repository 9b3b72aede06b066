#include "hdiutil/VolumeTree.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace tarn::hdiutil {
namespace {

using ::testing::HasSubstr;

// A volume folder beside an "outside" folder that nothing may reach or change.
struct Trees {
    QTemporaryDir base;
    QString volume = base.filePath(QStringLiteral("volume"));
    QString outside = base.filePath(QStringLiteral("outside"));

    Trees() {
        QDir().mkpath(volume + QStringLiteral("/Extras"));
        QDir().mkpath(outside);
        write(volume + QStringLiteral("/Scanner Suite.pkg"));
        write(outside + QStringLiteral("/secret"));
    }

    static void write(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
    }

    void link(const QString& name, const QString& target) const {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(volume + u'/' + name).constData()),
                  0);
    }
};

mode_t modeOf(const QString& path) {
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status.st_mode;
}

TEST(HdiutilVolumeTree, AcceptsLinksThatResolveInside) {
    Trees trees;
    trees.link(QStringLiteral("Extras/suite"), QStringLiteral("../Scanner Suite.pkg"));
    trees.link(QStringLiteral("extras"), QStringLiteral("Extras"));
    ASSERT_EQ(::link(QFile::encodeName(trees.volume + QStringLiteral("/Scanner Suite.pkg")).constData(),
                     QFile::encodeName(trees.volume + QStringLiteral("/Extras/copy.pkg")).constData()),
              0);

    EXPECT_EQ(firstEscape(trees.volume), std::nullopt);
}

TEST(HdiutilVolumeTree, FindsWhatReachesOutside) {
    struct Case {
        QString name;
        std::function<void(Trees&)> make;
        const char* reason;
    };
    const QList<Case> cases{
            {QStringLiteral("absolute link"),
             [](Trees& t) { t.link(QStringLiteral("secret"), t.outside + QStringLiteral("/secret")); },
             "the link 'secret' leads out"},
            {QStringLiteral("climbing link"),
             [](Trees& t) { t.link(QStringLiteral("Extras/up"), QStringLiteral("../../outside")); },
             "the link 'Extras/up' leads out"},
            // Each link alone stays inside by its text; the kernel resolves "here/.." from the folder "here"
            // names, which is the volume itself, so together they climb out.
            {QStringLiteral("composed links"),
             [](Trees& t) {
                 t.link(QStringLiteral("here"), QStringLiteral("."));
                 t.link(QStringLiteral("Extras/way"), QStringLiteral("../here/../outside"));
             },
             "leads out"},
            {QStringLiteral("dangling link"),
             [](Trees& t) { t.link(QStringLiteral("gone"), QStringLiteral("missing/file")); },
             "the link 'gone' leads out"},
            {QStringLiteral("hard link from outside"),
             [](Trees& t) {
                 ASSERT_EQ(::link(QFile::encodeName(t.outside + QStringLiteral("/secret")).constData(),
                                  QFile::encodeName(t.volume + QStringLiteral("/Extras/secret")).constData()),
                           0);
             },
             "the file 'Extras/secret' is linked from outside"},
            {QStringLiteral("pipe"),
             [](Trees& t) {
                 ASSERT_EQ(::mkfifo(QFile::encodeName(t.volume + QStringLiteral("/pipe")).constData(), 0600), 0);
             },
             "'pipe' is neither a file, a folder nor a link"},
    };
    for (const Case& testCase : cases) {
        Trees trees;
        testCase.make(trees);
        const auto escape = firstEscape(trees.volume);
        ASSERT_TRUE(escape.has_value()) << testCase.name.toStdString();
        EXPECT_THAT(escape->toStdString(), HasSubstr(testCase.reason)) << testCase.name.toStdString();
    }
}

TEST(HdiutilVolumeTree, ReadOnlyAndRemovalNeverReachThroughLinks) {
    Trees trees;
    trees.link(QStringLiteral("Extras/outside"), trees.outside);
    trees.link(QStringLiteral("secret"), trees.outside + QStringLiteral("/secret"));
    const mode_t outsideMode = modeOf(trees.outside + QStringLiteral("/secret"));

    ASSERT_EQ(makeReadOnly(trees.volume), std::nullopt);
    EXPECT_EQ(modeOf(trees.volume + QStringLiteral("/Scanner Suite.pkg")) & 0222, 0u);
    EXPECT_EQ(modeOf(trees.volume + QStringLiteral("/Extras")) & 0222, 0u);
    EXPECT_EQ(modeOf(trees.volume) & 0222, 0u);
    EXPECT_EQ(modeOf(trees.outside + QStringLiteral("/secret")), outsideMode);
    EXPECT_EQ(modeOf(trees.outside) & 0200, 0200u);

    ASSERT_EQ(removeTree(trees.volume), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(trees.volume));
    EXPECT_TRUE(QFileInfo::exists(trees.outside + QStringLiteral("/secret")));
    EXPECT_EQ(removeTree(trees.volume), std::nullopt) << "removing what is already gone is no failure";
}

} // namespace
} // namespace tarn::hdiutil
