#pragma once

#include <QString>

namespace tarn::tool {

// The folder the tools treat as "/". TARN_SYSTEM_ROOT, when set, names it (tests and the demo install
// into a sandbox); otherwise it is the real root. Receipts and trust anchors live under it:
//   <root>/var/db/receipts/<pkgid>.plist                        one receipt per installed package
//   <root>/etc/tarn-installer/package-signing-anchors.pem       roots trusted for package signatures
class SystemRoot {
public:
    explicit SystemRoot(const QString& directory);

    // TARN_SYSTEM_ROOT made absolute, or "/" when it is unset or empty.
    static SystemRoot fromEnvironment();

    const QString& directory() const { return root; }
    bool isRealRoot() const { return root == QStringLiteral("/"); }

    // An absolute path of the emulated system ("/Applications") as it lies on this machine.
    QString resolve(const QString& absolutePath) const;

    QString trustAnchorsFile() const;

private:
    QString root;
};

} // namespace tarn::tool
