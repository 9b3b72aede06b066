#include "services/InstallationError.h"

namespace tarn {

using namespace Qt::StringLiterals;

QString caseName(InstallationError::Case errorCase) {
    switch (errorCase) {
    case InstallationError::Case::unableToMountDMG:
        return u"unableToMountDMG"_s;
    case InstallationError::Case::pkgNotFound:
        return u"pkgNotFound"_s;
    case InstallationError::Case::installationFailed:
        return u"installationFailed"_s;
    case InstallationError::Case::unmountFailed:
        return u"unmountFailed"_s;
    case InstallationError::Case::unsupportedFileExtension:
        return u"unsupportedFileExtension"_s;
    case InstallationError::Case::mismatchHash:
        return u"mismatchHash"_s;
    case InstallationError::Case::mismatchSignature:
        return u"mismatchSignature"_s;
    case InstallationError::Case::invalidInput:
        return u"invalidInput"_s;
    case InstallationError::Case::invalidPath:
        return u"invalidPath"_s;
    case InstallationError::Case::invalidUrl:
        return u"invalidUrl"_s;
    case InstallationError::Case::noProcessOutput:
        return u"noProcessOutput"_s;
    }
    return u"unknown"_s;
}

QString InstallationError::localizedDescription() const {
    return u"The operation could not be completed. (InstallationError error %1.)"_s.arg(caseNumber());
}

QString InstallationError::debugDescription() const {
    return u"%1(%2)"_s.arg(caseName(errorCase), quotedForDebug(payload));
}

} // namespace tarn
