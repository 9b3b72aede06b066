#include "app/RunReport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <cmath>

namespace tarn {
namespace {

QJsonValue orNull(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

bool isFinal(ToInstallListItemViewState state) {
    return state == ToInstallListItemViewState::done || state == ToInstallListItemViewState::failed;
}

} // namespace

RunReport::RunReport(QString serviceUrl, Clock clock)
    : serviceUrl(std::move(serviceUrl)), clock(std::move(clock)),
      startedAt(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)) {}

void RunReport::deviceChosen(const QString& name, DeviceChoice how) {
    device = name;
    deviceChoice = how;
}

void RunReport::installedVersionFound(const QString& pkgId, const std::optional<QString>& version) {
    versionsBefore.insert(pkgId, version);
}

void RunReport::observe(const QList<AppInstallTask>& rows) {
    const auto now = clock();
    for (const AppInstallTask& task : rows) {
        RowTimes& row = times[task.id];
        if (!row.started && task.state != ToInstallListItemViewState::ready) {
            row.started = now;
        }
        if (!row.ended && isFinal(task.state)) {
            row.ended = now;
            // Failed before it began (refused rights): no time spent on it.
            if (!row.started) {
                row.started = now;
            }
        }
        row.bytes = std::max(row.bytes, task.download.receivedBytes);
    }
    tasks = rows;
}

QJsonObject RunReport::toJson(int exitCode) const {
    const auto now = clock();
    QJsonArray applications;
    for (const AppInstallTask& task : tasks) {
        const RowTimes row = times.value(task.id);
        const double seconds =
                row.started ? std::chrono::duration<double>(row.ended.value_or(now) - *row.started).count() : 0.0;
        applications.append(QJsonObject{
                {QStringLiteral("name"), task.name},
                {QStringLiteral("packageId"), task.pkgId},
                {QStringLiteral("mandatory"), task.isManadatory},
                {QStringLiteral("requestedVersion"), task.version},
                {QStringLiteral("installedVersionBefore"), orNull(versionsBefore.value(task.pkgId))},
                {QStringLiteral("state"), caseName(task.state)},
                {QStringLiteral("error"), orNull(task.errorMessage)},
                {QStringLiteral("bytesDownloaded"), row.bytes},
                {QStringLiteral("seconds"), std::round(seconds * 1000) / 1000},
        });
    }
    QJsonValue chosenDevice(QJsonValue::Null);
    if (device) {
        chosenDevice = QJsonObject{
                {QStringLiteral("name"), *device},
                {QStringLiteral("chosenBy"),
                 deviceChoice == DeviceChoice::detected ? QStringLiteral("detected") : QStringLiteral("--device")},
        };
    }
    return QJsonObject{
            {QStringLiteral("reportFormat"), formatVersion},
            {QStringLiteral("toolVersion"), QStringLiteral(TARN_VERSION)},
            {QStringLiteral("serviceUrl"), serviceUrl},
            {QStringLiteral("startedAt"), startedAt},
            {QStringLiteral("finishedAt"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
            {QStringLiteral("device"), chosenDevice},
            {QStringLiteral("applications"), applications},
            {QStringLiteral("outcome"), outcomeName(exitCode)},
            {QStringLiteral("exitCode"), exitCode},
    };
}

std::optional<QString> RunReport::writeTo(const QString& path, int exitCode) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    file.write(QJsonDocument(toJson(exitCode)).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

QString RunReport::outcomeName(int exitCode) {
    switch (exitCode) {
    case 0:
        return QStringLiteral("success");
    case 2:
        return QStringLiteral("usageError");
    case 3:
        return QStringLiteral("optionalFailed");
    default:
        return exitCode > 128 ? QStringLiteral("interrupted") : QStringLiteral("failed");
    }
}

} // namespace tarn
