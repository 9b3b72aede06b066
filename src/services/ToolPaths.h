#pragma once

#include <QString>

namespace tarn {

// Where the operating system's package tools live. On macOS these are the system's own; on Linux the
// project's stand-ins with the same command-line contracts, installed privately next to the application.
struct ToolPaths {
    QString pkgutil;
    QString installer;
    QString hdiutil;
    QString osascript;
    QString askpass; // the password dialog the elevation command asks through
    QString sudo;    // the elevation command of the permissions manager

    static ToolPaths forThisSystem();
    // Every stand-in taken from one folder (tests and the demo), sudo from the system.
    static ToolPaths inDirectory(const QString& directory);
};

} // namespace tarn
