#include "services/InstallationError.h"

#include <iterator>

namespace tarn {

using namespace Qt::StringLiterals;

QString caseName(InstallationError::Case errorCase) {
    // In declaration order.
    static constexpr QStringView names[] = {u"unableToMountDMG",
                                            u"pkgNotFound",
                                            u"installationFailed",
                                            u"unmountFailed",
                                            u"unsupportedFileExtension",
                                            u"mismatchHash",
                                            u"mismatchSignature",
                                            u"invalidInput",
                                            u"invalidPath",
                                            u"invalidUrl",
                                            u"noProcessOutput"};
    const auto index = static_cast<size_t>(errorCase);
    return index < std::size(names) ? names[index].toString() : u"unknown"_s;
}

QString InstallationError::localizedDescription() const {
    return u"The operation could not be completed. (InstallationError error %1.)"_s.arg(caseNumber());
}

QString InstallationError::debugDescription() const {
    return u"%1(%2)"_s.arg(caseName(errorCase), quotedForDebug(payload));
}

} // namespace tarn
