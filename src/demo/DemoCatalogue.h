#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace tarn::demo {

// What the demo's configuration service offers: three scanner models of one vendor and the
// applications that belong to them, signed by the three trusted signers. Made-up products only.

enum class InstallerFormat {
    componentPackage, // a flat package with PackageInfo and Payload at its top
    productArchive,   // a flat package with a Distribution and a component folder
    diskImage,        // a .dmg holding a signed component package at its top level
};

struct SampleApplication {
    QString name;
    QString pkgId;
    QString version;
    bool mandatory = false;
    QString licenseType; // as the document writes it: "free" or "trial"
    QString signerName;  // the package is signed as "Developer ID Installer: NAME (TEAM)"
    QString signerTeam;
    InstallerFormat format = InstallerFormat::componentPackage;
    QString fileName;                   // under packagesPath on the service
    QMap<QString, QString> description; // by locale key: en, de, fr
};

struct SampleScanner {
    QString name;
    quint16 vendorID = 0;
    quint16 productID = 0;
    QString configurationFile; // under configurationsPath on the service
    QStringList applications;  // names, in the configuration's order
};

// Where the documents and files lie on the service. The catalogue's path is the workflow's own.
inline constexpr char cataloguePath[] = "/support/Softwaredownloadcenter/Mac_ScannersConfig";
inline constexpr char configurationsPath[] = "/support/Softwaredownloadcenter/configurations/";
inline constexpr char packagesPath[] = "/support/Softwaredownloadcenter/packages/";
inline constexpr char successPagePath[] = "/EN-GB/c2474/Getting-started-with-your-TARN-scanner.aspx";
inline constexpr char supportPagePath[] = "/EN-GB/c2473/Official-TARN-customer-Support.aspx";

const QList<SampleApplication>& sampleApplications();
const QList<SampleScanner>& sampleScanners();
// The application of that name; throws std::out_of_range for any other.
const SampleApplication& sampleApplication(const QString& name);

// The scanner the demo plugs in, and what the rest of its simulated bus holds.
const SampleScanner& simulatedScanner();

// The applications the demo variants spoil: an optional one announced with a wrong digest, a
// mandatory one whose package is damaged.
const SampleApplication& optionalWithWrongDigest();
const SampleApplication& damagedMandatory();

// One catalogue entry as the service announces it.
struct CatalogueEntry {
    const SampleScanner* scanner;
    QString configLink;
    QString configurationHash;
};

// One application of a configuration as the service announces it.
struct AnnouncedApplication {
    const SampleApplication* application;
    QString installer;
    QString hash;
};

// The documents, as the service sends them: indented JSON.
QByteArray catalogueDocument(const QList<CatalogueEntry>& entries);
QByteArray configurationDocument(const SampleScanner& scanner, const QString& successUrl,
                                 const QList<AnnouncedApplication>& applications);

// Vendor and product numbers as the catalogue writes them: lower-case hexadecimal, no leading zeros,
// which is how the device search compares them with the bus.
QString catalogueHex(quint16 number);

} // namespace tarn::demo
