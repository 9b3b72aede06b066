#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tarn::hdiutil {

// Where this tool keeps its volumes and what it runs to read images.
struct Environment {
    // Mount folders are made here, one per attached volume, named after the volume.
    QString volumesDirectory;
    // 7-Zip's command-line program.
    QString sevenZip;
    // Why the volumes folder could not be set up; every command fails with it when set.
    QString problem;
    // The bytes free for extraction in a folder (statvfs(3)); absent when it cannot be told.
    std::function<std::optional<quint64>(const QString& folder)> freeBytes;

    // /Volumes inside TARN_SYSTEM_ROOT when that variable is set, resolved there as a chroot would (links
    // laid by packages stay inside) and made when missing; else a folder private to the user in the
    // runtime directory; 7zz from PATH.
    static Environment fromProcess();
};

// What a command prints and how it exits.
struct Outcome {
    int exitCode = 0;
    QByteArray standardOutput;
    QByteArray standardError;
};

// The disk-image tool: "attach IMAGE [-nobrowse] [-plist] [-readonly]" extracts the image with 7-Zip into
// a new read-only mount folder and reports it. Only disk-image formats (UDIF, ISO 9660 and UDF, HFS+,
// APFS, GPT and Apple partition maps), told by their signatures, are opened, and only when what they hold
// fits in the free space with a margin; "detach MOUNT_POINT [-quiet] [-force]" removes a mount
// folder that this tool made, and refuses anything else.
Outcome run(const QStringList& arguments, const Environment& environment);

} // namespace tarn::hdiutil
