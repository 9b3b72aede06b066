#pragma once

#include "base/Error.h"

#include <QString>

namespace tarn {

// The one error of the package services and the workflow. Each case carries one text; the case
// number (declaration order) is what the generic description names.
class InstallationError final : public Error {
public:
    enum class Case {
        unableToMountDMG = 0,
        pkgNotFound = 1,
        installationFailed = 2,
        unmountFailed = 3,
        unsupportedFileExtension = 4,
        mismatchHash = 5,
        mismatchSignature = 6,
        invalidInput = 7,
        invalidPath = 8,
        invalidUrl = 9,
        noProcessOutput = 10,
    };

    InstallationError(Case errorCase, QString text) : errorCase(errorCase), payload(std::move(text)) {}

    static InstallationError unableToMountDMG(QString text) { return {Case::unableToMountDMG, std::move(text)}; }
    static InstallationError pkgNotFound(QString text) { return {Case::pkgNotFound, std::move(text)}; }
    static InstallationError installationFailed(QString text) { return {Case::installationFailed, std::move(text)}; }
    static InstallationError unmountFailed(QString text) { return {Case::unmountFailed, std::move(text)}; }
    static InstallationError unsupportedFileExtension(QString text) {
        return {Case::unsupportedFileExtension, std::move(text)};
    }
    static InstallationError mismatchHash(QString text) { return {Case::mismatchHash, std::move(text)}; }
    static InstallationError mismatchSignature(QString text) { return {Case::mismatchSignature, std::move(text)}; }
    static InstallationError invalidPath(QString text) { return {Case::invalidPath, std::move(text)}; }
    static InstallationError invalidUrl(QString text) { return {Case::invalidUrl, std::move(text)}; }
    static InstallationError noProcessOutput(QString text) { return {Case::noProcessOutput, std::move(text)}; }

    Case kind() const { return errorCase; }
    int caseNumber() const { return static_cast<int>(errorCase); }
    const QString& text() const { return payload; }

    // No user-facing text of its own: names the type and the case number.
    QString localizedDescription() const override;
    // The case name, then the text in double quotes with quotes, backslashes and line breaks escaped.
    QString debugDescription() const override;

    friend bool operator==(const InstallationError& a, const InstallationError& b) {
        return a.errorCase == b.errorCase && a.payload == b.payload;
    }

private:
    Case errorCase;
    QString payload;
};

QString caseName(InstallationError::Case errorCase);

} // namespace tarn
