#include "demo/DemoCatalogue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

namespace tarn::demo {

namespace {

const QString tarnName = QStringLiteral("TARN");
const QString tarnTeam = QStringLiteral("Q7XK2M9P4D");
const QString quillonName = QStringLiteral("Quillon Ltd.");
const QString quillonTeam = QStringLiteral("M2D7S5K9WE");
const QString norwellName = QStringLiteral("Norwell Labs");
const QString norwellTeam = QStringLiteral("H4VN8C2T6R");

const QString scanManager = QStringLiteral("TARN Scan Manager");
const QString scannerDriver = QStringLiteral("TARN Scanner Driver");
const QString ocrStudio = QStringLiteral("Quillon OCR Studio");
const QString cloudSync = QStringLiteral("Norwell Cloud Sync");
const QString pdfToolkit = QStringLiteral("TARN PDF Toolkit");

constexpr quint16 vendor = 0x3A7E;

QList<SampleApplication> makeApplications() {
    return {
            {scanManager,
             QStringLiteral("com.tarn.pkg.scanmanager"),
             QStringLiteral("4.2.1"),
             true,
             QStringLiteral("free"),
             tarnName,
             tarnTeam,
             InstallerFormat::productArchive,
             QStringLiteral("TARN_Scan_Manager_4.2.1.pkg"),
             {{QStringLiteral("en"), QStringLiteral("Scan, name and file your documents with one button press.")},
              {QStringLiteral("de"), QStringLiteral("Dokumente per Knopfdruck scannen, benennen und ablegen.")},
              {QStringLiteral("fr"),
               QStringLiteral("Numérisez, nommez et classez vos documents d’une simple pression.")}}},
            {scannerDriver,
             QStringLiteral("com.tarn.pkg.scannerdriver"),
             QStringLiteral("2.8.0"),
             true,
             QStringLiteral("free"),
             tarnName,
             tarnTeam,
             InstallerFormat::componentPackage,
             QStringLiteral("TARN_Scanner_Driver_2.8.0.pkg"),
             {{QStringLiteral("en"), QStringLiteral("The driver that lets your computer talk to the scanner.")},
              {QStringLiteral("de"), QStringLiteral("Der Treiber, über den Ihr Computer mit dem Scanner spricht.")},
              {QStringLiteral("fr"), QStringLiteral("Le pilote qui permet à votre ordinateur de dialoguer avec le "
                                                    "scanner.")}}},
            {ocrStudio,
             QStringLiteral("com.quillon.pkg.ocrstudio"),
             QStringLiteral("11.0.3"),
             false,
             QStringLiteral("trial"),
             quillonName,
             quillonTeam,
             InstallerFormat::componentPackage,
             QStringLiteral("Quillon_OCR_Studio_11.0.3.pkg"),
             {{QStringLiteral("en"), QStringLiteral("Turns scans into searchable, editable text. 30-day trial.")},
              {QStringLiteral("de"),
               QStringLiteral("Macht aus Scans durchsuchbaren, bearbeitbaren Text. 30 Tage zum Testen.")},
              {QStringLiteral("fr"), QStringLiteral("Transforme vos numérisations en texte modifiable et "
                                                    "consultable. Essai de 30 jours.")}}},
            {cloudSync,
             QStringLiteral("com.norwelllabs.pkg.cloudsync"),
             QStringLiteral("3.1.0"),
             false,
             QStringLiteral("free"),
             norwellName,
             norwellTeam,
             InstallerFormat::diskImage,
             QStringLiteral("Norwell_Cloud_Sync_3.1.0.dmg"),
             {{QStringLiteral("en"), QStringLiteral("Sends every scan to the cloud folder of your choice.")},
              {QStringLiteral("de"), QStringLiteral("Schickt jeden Scan in den Cloud-Ordner Ihrer Wahl.")},
              {QStringLiteral("fr"),
               QStringLiteral("Envoie chaque numérisation vers le dossier cloud de votre choix.")}}},
            {pdfToolkit,
             QStringLiteral("com.tarn.pkg.pdftoolkit"),
             QStringLiteral("1.6.2"),
             false,
             QStringLiteral("free"),
             tarnName,
             tarnTeam,
             InstallerFormat::componentPackage,
             QStringLiteral("TARN_PDF_Toolkit_1.6.2.pkg"),
             {{QStringLiteral("en"), QStringLiteral("Merge, split and compress the PDF files you scan.")},
              {QStringLiteral("de"), QStringLiteral("Gescannte PDF-Dateien zusammenführen, teilen und verkleinern.")},
              {QStringLiteral("fr"), QStringLiteral("Fusionnez, scindez et compressez vos fichiers PDF numérisés.")}}},
    };
}

QList<SampleScanner> makeScanners() {
    return {
            {QStringLiteral("T.A.R.N. ScanDesk 410"),
             vendor,
             0x0410,
             QStringLiteral("ScanDesk_410.json"),
             {scanManager, scannerDriver, ocrStudio, pdfToolkit}},
            {QStringLiteral("T.A.R.N. ScanDesk 620 Duplex"),
             vendor,
             0x0620,
             QStringLiteral("ScanDesk_620_Duplex.json"),
             {scanManager, scannerDriver, ocrStudio, cloudSync, pdfToolkit}},
            {QStringLiteral("T.A.R.N. PocketScan P1"),
             vendor,
             0x0A01,
             QStringLiteral("PocketScan_P1.json"),
             {scanManager, cloudSync, ocrStudio}},
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
        device.insert(QStringLiteral("name"), entry.scanner->name);
        device.insert(QStringLiteral("vid"), catalogueHex(entry.scanner->vendorID));
        device.insert(QStringLiteral("pid"), catalogueHex(entry.scanner->productID));
        device.insert(QStringLiteral("configLink"), entry.configLink);
        device.insert(QStringLiteral("hash"), entry.configurationHash);
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
        app.insert(QStringLiteral("name"), application.name);
        app.insert(QStringLiteral("version"), application.version);
        app.insert(QStringLiteral("mandatory"), application.mandatory);
        app.insert(QStringLiteral("licenseType"), application.licenseType);
        app.insert(QStringLiteral("installer"), announced.installer);
        app.insert(QStringLiteral("hash"), announced.hash);
        app.insert(QStringLiteral("pkgId"), application.pkgId);
        app.insert(QStringLiteral("descriptionLocalized"), descriptionObject(application.description));
        apps.append(app);
    }
    QJsonObject configuration;
    configuration.insert(QStringLiteral("name"), scanner.name);
    configuration.insert(QStringLiteral("vid"), catalogueHex(scanner.vendorID));
    configuration.insert(QStringLiteral("pid"), catalogueHex(scanner.productID));
    configuration.insert(QStringLiteral("successUrl"), successUrl);
    configuration.insert(QStringLiteral("apps"), apps);
    return QJsonDocument(configuration).toJson(QJsonDocument::Indented);
}

} // namespace tarn::demo
