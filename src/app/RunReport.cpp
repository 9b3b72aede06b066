#include "app/RunReport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <cmath>

namespace tarn {

using namespace Qt::StringLiterals;
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
                {u"name"_s, task.name},
                {u"packageId"_s, task.pkgId},
                {u"mandatory"_s, task.isManadatory},
                {u"requestedVersion"_s, task.version},
                {u"installedVersionBefore"_s, orNull(versionsBefore.value(task.pkgId))},
                {u"state"_s, caseName(task.state)},
                {u"error"_s, orNull(task.errorMessage)},
                {u"bytesDownloaded"_s, row.bytes},
                {u"seconds"_s, std::round(seconds * 1000) / 1000},
        });
    }
    QJsonValue chosenDevice(QJsonValue::Null);
    if (device) {
        chosenDevice = QJsonObject{
                {u"name"_s, *device},
                {u"chosenBy"_s, deviceChoice == DeviceChoice::detected ? u"detected"_s : u"--device"_s},
        };
    }
    return QJsonObject{
            {u"reportFormat"_s, formatVersion},
            {u"toolVersion"_s, QStringLiteral(TARN_VERSION)},
            {u"serviceUrl"_s, serviceUrl},
            {u"startedAt"_s, startedAt},
            {u"finishedAt"_s, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
            {u"device"_s, chosenDevice},
            {u"applications"_s, applications},
            {u"outcome"_s, outcomeName(exitCode)},
            {u"exitCode"_s, exitCode},
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
        return u"success"_s;
    case 2:
        return u"usageError"_s;
    case 3:
        return u"optionalFailed"_s;
    default:
        return exitCode > 128 ? u"interrupted"_s : u"failed"_s;
    }
}

} // namespace tarn
