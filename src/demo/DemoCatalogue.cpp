#include "demo/DemoCatalogue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

namespace tarn::demo {

using namespace Qt::StringLiterals;

namespace {

const QString tarnName = u"TARN"_s;
const QString tarnTeam = u"Q7XK2M9P4D"_s;
const QString quillonName = u"Quillon Ltd."_s;
const QString quillonTeam = u"M2D7S5K9WE"_s;
const QString norwellName = u"Norwell Labs"_s;
const QString norwellTeam = u"H4VN8C2T6R"_s;

const QString scanManager = u"TARN Scan Manager"_s;
const QString scannerDriver = u"TARN Scanner Driver"_s;
const QString ocrStudio = u"Quillon OCR Studio"_s;
const QString cloudSync = u"Norwell Cloud Sync"_s;
const QString pdfToolkit = u"TARN PDF Toolkit"_s;

constexpr quint16 vendor = 0x3A7E;

QList<SampleApplication> makeApplications() {
    return {
            {scanManager,
             u"com.tarn.pkg.scanmanager"_s,
             u"4.2.1"_s,
             true,
             u"free"_s,
             tarnName,
             tarnTeam,
             InstallerFormat::productArchive,
             u"TARN_Scan_Manager_4.2.1.pkg"_s,
             {{u"en"_s, u"Scan, name and file your documents with one button press."_s},
              {u"de"_s, u"Dokumente per Knopfdruck scannen, benennen und ablegen."_s},
              {u"fr"_s, u"Numérisez, nommez et classez vos documents d’une simple pression."_s}}},
            {scannerDriver,
             u"com.tarn.pkg.scannerdriver"_s,
             u"2.8.0"_s,
             true,
             u"free"_s,
             tarnName,
             tarnTeam,
             InstallerFormat::componentPackage,
             u"TARN_Scanner_Driver_2.8.0.pkg"_s,
             {{u"en"_s, u"The driver that lets your computer talk to the scanner."_s},
              {u"de"_s, u"Der Treiber, über den Ihr Computer mit dem Scanner spricht."_s},
              {u"fr"_s, u"Le pilote qui permet à votre ordinateur de dialoguer avec le "
                        "scanner."_s}}},
            {ocrStudio,
             u"com.quillon.pkg.ocrstudio"_s,
             u"11.0.3"_s,
             false,
             u"trial"_s,
             quillonName,
             quillonTeam,
             InstallerFormat::componentPackage,
             u"Quillon_OCR_Studio_11.0.3.pkg"_s,
             {{u"en"_s, u"Turns scans into searchable, editable text. 30-day trial."_s},
              {u"de"_s, u"Macht aus Scans durchsuchbaren, bearbeitbaren Text. 30 Tage zum Testen."_s},
              {u"fr"_s, u"Transforme vos numérisations en texte modifiable et "
                        "consultable. Essai de 30 jours."_s}}},
            {cloudSync,
             u"com.norwelllabs.pkg.cloudsync"_s,
             u"3.1.0"_s,
             false,
             u"free"_s,
             norwellName,
             norwellTeam,
             InstallerFormat::diskImage,
             u"Norwell_Cloud_Sync_3.1.0.dmg"_s,
             {{u"en"_s, u"Sends every scan to the cloud folder of your choice."_s},
              {u"de"_s, u"Schickt jeden Scan in den Cloud-Ordner Ihrer Wahl."_s},
              {u"fr"_s, u"Envoie chaque numérisation vers le dossier cloud de votre choix."_s}}},
            {pdfToolkit,
             u"com.tarn.pkg.pdftoolkit"_s,
             u"1.6.2"_s,
             false,
             u"free"_s,
             tarnName,
             tarnTeam,
             InstallerFormat::componentPackage,
             u"TARN_PDF_Toolkit_1.6.2.pkg"_s,
             {{u"en"_s, u"Merge, split and compress the PDF files you scan."_s},
              {u"de"_s, u"Gescannte PDF-Dateien zusammenführen, teilen und verkleinern."_s},
              {u"fr"_s, u"Fusionnez, scindez et compressez vos fichiers PDF numérisés."_s}}},
    };
}

QList<SampleScanner> makeScanners() {
    return {
            {u"T.A.R.N. ScanDesk 410"_s,
             vendor,
             0x0410,
             u"ScanDesk_410.json"_s,
             {scanManager, scannerDriver, ocrStudio, pdfToolkit}},
            {u"T.A.R.N. ScanDesk 620 Duplex"_s,
             vendor,
             0x0620,
             u"ScanDesk_620_Duplex.json"_s,
             {scanManager, scannerDriver, ocrStudio, cloudSync, pdfToolkit}},
            {u"T.A.R.N. PocketScan P1"_s, vendor, 0x0A01, u"PocketScan_P1.json"_s, {scanManager, cloudSync, ocrStudio}},
    };
}

QJsonObject descriptionObject(const QMap<QString, QString>& description) {
    QJsonObject object;
    for (auto entry = description.begin(); entry != description.end(); ++entry) {
        object.insert(entry.key(), entry.value());
    }
    return object;
}

} // namespace

const QList<SampleApplication>& sampleApplications() {
    static const QList<SampleApplication> applications = makeApplications();
    return applications;
}

const QList<SampleScanner>& sampleScanners() {
    static const QList<SampleScanner> scanners = makeScanners();
    return scanners;
}

const SampleApplication& sampleApplication(const QString& name) {
    for (const auto& application : sampleApplications()) {
        if (application.name == name) {
            return application;
        }
    }
    throw std::out_of_range("no sample application named " + name.toStdString());
}

const SampleScanner& simulatedScanner() {
    return sampleScanners()[1];
}

const SampleApplication& optionalWithWrongDigest() {
    return sampleApplication(ocrStudio);
}

const SampleApplication& damagedMandatory() {
    return sampleApplication(scannerDriver);
}

QString catalogueHex(quint16 number) {
    return QString::number(number, 16);
}

QByteArray catalogueDocument(const QList<CatalogueEntry>& entries) {
    QJsonArray catalogue;
    for (const auto& entry : entries) {
        QJsonObject device;
        device.insert(u"name"_s, entry.scanner->name);
        device.insert(u"vid"_s, catalogueHex(entry.scanner->vendorID));
        device.insert(u"pid"_s, catalogueHex(entry.scanner->productID));
        device.insert(u"configLink"_s, entry.configLink);
        device.insert(u"hash"_s, entry.configurationHash);
        catalogue.append(device);
    }
    return QJsonDocument(catalogue).toJson(QJsonDocument::Indented);
}

QByteArray configurationDocument(const SampleScanner& scanner, const QString& successUrl,
                                 const QList<AnnouncedApplication>& applications) {
    QJsonArray apps;
    for (const auto& announced : applications) {
        const SampleApplication& application = *announced.application;
        QJsonObject app;
        app.insert(u"name"_s, application.name);
        app.insert(u"version"_s, application.version);
        app.insert(u"mandatory"_s, application.mandatory);
        app.insert(u"licenseType"_s, application.licenseType);
        app.insert(u"installer"_s, announced.installer);
        app.insert(u"hash"_s, announced.hash);
        app.insert(u"pkgId"_s, application.pkgId);
        app.insert(u"descriptionLocalized"_s, descriptionObject(application.description));
        apps.append(app);
    }
    QJsonObject configuration;
    configuration.insert(u"name"_s, scanner.name);
    configuration.insert(u"vid"_s, catalogueHex(scanner.vendorID));
    configuration.insert(u"pid"_s, catalogueHex(scanner.productID));
    configuration.insert(u"successUrl"_s, successUrl);
    configuration.insert(u"apps"_s, apps);
    return QJsonDocument(configuration).toJson(QJsonDocument::Indented);
}

} // namespace tarn::demo
