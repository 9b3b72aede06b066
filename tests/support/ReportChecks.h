#pragma once

#include "support/QtPrinters.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace tarn::test {

// Reads the unattended mode's report at `path` and checks that it is whole: valid JSON, every field
// present with its type, and the outcome that `exitCode` stands for. Answers it for further checks.
inline QJsonObject completeReport(const QString& path, int exitCode) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << "no report at " << path.toStdString();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonObject report = document.object();
    EXPECT_EQ(report.keys(), (QStringList{"applications", "device", "exitCode", "finishedAt", "outcome", "reportFormat",
                                          "serviceUrl", "startedAt", "toolVersion"}));
    EXPECT_EQ(report.value(u"reportFormat"), 1);
    EXPECT_EQ(report.value(u"toolVersion"), QStringLiteral(TARN_VERSION));
    EXPECT_TRUE(report.value(u"serviceUrl").toString().startsWith(u"https://"));
    EXPECT_EQ(report.value(u"exitCode"), exitCode);
    const char* outcome = exitCode == 0    ? "success"
                          : exitCode == 2  ? "usageError"
                          : exitCode == 3  ? "optionalFailed"
                          : exitCode > 128 ? "interrupted"
                                           : "failed";
    EXPECT_EQ(report.value(u"outcome"), QLatin1String(outcome));
    const QJsonValue device = report.value(u"device");
    if (!device.isNull()) {
        EXPECT_EQ(device.toObject().keys(), (QStringList{"chosenBy", "name"}));
        EXPECT_FALSE(device[u"name"].toString().isEmpty());
        EXPECT_TRUE(device[u"chosenBy"] == QStringLiteral("detected") ||
                    device[u"chosenBy"] == QStringLiteral("--device"));
    }
    EXPECT_TRUE(report.value(u"applications").isArray());
    for (const QJsonValue& application : report.value(u"applications").toArray()) {
        EXPECT_EQ(application.toObject().keys(),
                  (QStringList{"bytesDownloaded", "error", "installedVersionBefore", "mandatory", "name", "packageId",
                               "requestedVersion", "seconds", "state"}));
        for (const char* text : {"name", "packageId", "requestedVersion", "state"}) {
            EXPECT_TRUE(application[QLatin1String(text)].isString()) << text;
        }
        for (const char* textOrNull : {"installedVersionBefore", "error"}) {
            const QJsonValue value = application[QLatin1String(textOrNull)];
            EXPECT_TRUE(value.isString() || value.isNull()) << textOrNull;
        }
        EXPECT_TRUE(application[u"mandatory"].isBool());
        EXPECT_GE(application[u"bytesDownloaded"].toInteger(-1), 0);
        EXPECT_GE(application[u"seconds"].toDouble(-1), 0);
    }
    return report;
}

} // namespace tarn::test
