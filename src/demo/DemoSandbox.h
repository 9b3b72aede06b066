#pragma once

#include <QString>

#include <optional>

namespace tarn::demo {

// The demo's own corner of the file system. Made fresh under the temporary folder and removed with
// everything in it on destruction; or a folder the caller names, created when missing and kept.
class DemoSandbox {
public:
    // Throws DemoError when the folder cannot be made.
    explicit DemoSandbox(const std::optional<QString>& keptFolder);
    ~DemoSandbox();

    DemoSandbox(const DemoSandbox&) = delete;
    DemoSandbox& operator=(const DemoSandbox&) = delete;

    const QString& folder() const { return root; }
    bool isKept() const { return kept; }
    // `relative` inside the sandbox, its folder created; throws DemoError when that fails.
    QString folderFor(const QString& relative) const;

    QString systemRoot() const { return folderFor(QStringLiteral("root")); }
    QString usbRoot() const { return folderFor(QStringLiteral("sys")); }
    QString servedFiles() const { return folderFor(QStringLiteral("service")); }
    QString temporaryFolder() const { return folderFor(QStringLiteral("tmp")); }
    QString toolsFolder() const { return folderFor(QStringLiteral("bin")); }

private:
    QString root;
    bool kept = false;
};

// Removes `folder` and everything in it, read-only folders too (a detached image's volume may be
// left behind as one). Symbolic links are removed, never followed. Answers whether all of it went.
bool removeTree(const QString& folder);

} // namespace tarn::demo
