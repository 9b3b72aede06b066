#include "services/InstallationError.h"

namespace tarn {

QString caseName(InstallationError::Case errorCase) {
    switch (errorCase) {
    case InstallationError::Case::unableToMountDMG:
        return QStringLiteral("unableToMountDMG");
    case InstallationError::Case::pkgNotFound:
        return QStringLiteral("pkgNotFound");
    case InstallationError::Case::installationFailed:
        return QStringLiteral("installationFailed");
    case InstallationError::Case::unmountFailed:
        return QStringLiteral("unmountFailed");
    case InstallationError::Case::unsupportedFileExtension:
        return QStringLiteral("unsupportedFileExtension");
    case InstallationError::Case::mismatchHash:
        return QStringLiteral("mismatchHash");
    case InstallationError::Case::mismatchSignature:
        return QStringLiteral("mismatchSignature");
    case InstallationError::Case::invalidInput:
        return QStringLiteral("invalidInput");
    case InstallationError::Case::invalidPath:
        return QStringLiteral("invalidPath");
    case InstallationError::Case::invalidUrl:
        return QStringLiteral("invalidUrl");
    case InstallationError::Case::noProcessOutput:
        return QStringLiteral("noProcessOutput");
    }
    return QStringLiteral("unknown");
}

QString InstallationError::localizedDescription() const {
    return QStringLiteral("The operation could not be completed. (InstallationError error %1.)").arg(caseNumber());
}

QString InstallationError::debugDescription() const {
    return caseName(errorCase) + u'(' + quotedForDebug(payload) + u')';
}

} // namespace tarn
