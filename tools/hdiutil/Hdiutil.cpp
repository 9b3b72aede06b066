#include "hdiutil/Hdiutil.h"

#include "common/RootedFiles.h"
#include "common/SignalDeferral.h"
#include "common/ToolError.h"
#include "hdiutil/ImageListing.h"
#include "hdiutil/VolumeTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <plist/plist.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>

using namespace Qt::StringLiterals;

namespace tarn::hdiutil {

namespace {

constexpr int failureStatus = 1;
constexpr qsizetype longestComplaint = 600;

const QString usage = u"Usage: hdiutil attach IMAGE [-nobrowse] [-plist] [-readonly]\n"
                      "       hdiutil detach MOUNT_POINT [-quiet] [-force]\n"_s;

Outcome failed(const QString& verb, const QString& reason) {
    return {failureStatus, {}, u"hdiutil: %1 failed - %2\n"_s.arg(verb, reason).toUtf8()};
}

Outcome usageError(const QString& problem) {
    return {failureStatus, {}, u"hdiutil: %1\n%2"_s.arg(problem, usage).toUtf8()};
}

QString quoted(const QString& text) {
    return u"'%1'"_s.arg(text);
}

// Why an attach stops; the cleanup removes what it made as this unwinds.
struct Refusal {
    QString reason;
};

struct SevenZipResult {
    bool finished = false; // started and exited normally with a status
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

SevenZipResult runSevenZip(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    // -sccUTF-8: names as written, whatever the locale; -bd: no progress; "--" keeps an image named like a
    // switch an image. No standard input, so an encrypted image fails instead of waiting for a password.
    QStringList fullArguments = arguments;
    fullArguments.insert(1, u"-sccUTF-8"_s);
    fullArguments.insert(2, u"-bd"_s);
    process.setArguments(fullArguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        return {};
    }
    process.waitForFinished(-1);
    SevenZipResult result;
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    return result;
}

// 7-Zip's own words on what went wrong, on one line.
QString sevenZipComplaint(const SevenZipResult& result) {
    if (!result.finished) {
        return u"7-Zip could not run"_s;
    }
    // Errors about the archive come on standard output ("ERRORS:" and the reason on the next line),
    // errors about single entries on standard error.
    QStringList lines;
    const QStringList output = QString::fromUtf8(result.standardOutput).split(u'\n');
    for (qsizetype i = 0; i < output.size(); ++i) {
        const QString line = output[i].trimmed();
        if (line == QLatin1String("ERRORS:") && i + 1 < output.size()) {
            lines.append(output[i + 1].trimmed());
        } else if (line.contains(QLatin1String("ERROR:"))) {
            lines.append(line);
        }
    }
    for (const QString& line : QString::fromUtf8(result.standardError).split(u'\n')) {
        if (!line.trimmed().isEmpty()) {
            lines.append(line.trimmed());
        }
    }
    lines.removeDuplicates();
    QString complaint = lines.isEmpty() ? u"exit status %1"_s.arg(result.exitCode) : lines.join(u' ');
    if (complaint.size() > longestComplaint) {
        complaint = u"%1..."_s.arg(complaint.left(longestComplaint));
    }
    return u"7-Zip: %1"_s.arg(complaint);
}

// What an extraction must leave free beside what it writes.
constexpr quint64 minimumSpaceMargin = 64ULL * 1024 * 1024;

// The formats disk images come in, each told by its own signature. 7-Zip opens nearly every archive
// format; a zip or a tar under a ".dmg" name is refused before it sees it.
std::optional<QString> diskImageFormat(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const qint64 size = file.size();
    const QByteArray head = file.read(40 * 1024);
    const auto holds = [&head](qsizetype offset, const char* magic) {
        return head.mid(offset, static_cast<qsizetype>(std::strlen(magic))) == magic;
    };
    if (size >= 512 && file.seek(size - 512) && file.read(4) == "koly") {
        return u"UDIF"_s;
    }
    if (holds(32769, "CD001") || holds(32769, "BEA01")) {
        return u"ISO 9660"_s;
    }
    if (holds(1024, "H+") || holds(1024, "HX")) {
        return u"HFS+"_s;
    }
    if (holds(32, "NXSB")) {
        return u"APFS"_s;
    }
    if (holds(512, "EFI PART") || (holds(0, "ER") && holds(512, "PM"))) {
        return u"partitioned disk"_s;
    }
    return std::nullopt;
}

std::optional<quint64> availableBytes(const QString& folder) {
    struct statvfs status {};
    if (::statvfs(QFile::encodeName(folder).constData(), &status) != 0) {
        return std::nullopt;
    }
    return static_cast<quint64>(status.f_bavail) * status.f_frsize;
}

// A name the file system takes as one hidden-free folder name.
QString volumeName(QString name) {
    name.replace(u'/', u':');
    name.remove(QChar(u'\0'));
    name = name.trimmed();
    while (name.startsWith(u'.')) {
        name.remove(0, 1);
    }
    name = name.left(200).trimmed();
    return name.isEmpty() ? u"Untitled"_s : name;
}

// Claims a free mount folder: "NAME", then "NAME 1", "NAME 2", ... as the system does for volumes of the
// same name. mkdir is the claim, so two attaches at once never share a folder.
QString claimMountFolder(const QString& volumesDirectory, const QString& name) {
    for (int suffix = 0; suffix < 1000; ++suffix) {
        const QString candidate =
                QDir(volumesDirectory).filePath(suffix == 0 ? name : u"%1 %2"_s.arg(name, QString::number(suffix)));
        if (::mkdir(QFile::encodeName(candidate).constData(), 0700) == 0) {
            return candidate;
        }
        if (errno != EEXIST) {
            throw Refusal{u"cannot create the mount folder %1: %2"_s.arg(quoted(candidate),
                                                                         QString::fromLocal8Bit(std::strerror(errno)))};
        }
    }
    throw Refusal{u"no free mount folder for the volume %1"_s.arg(quoted(name))};
}

// What ties a mount folder to its attach record: the folder's device and inode, and a random token in a
// hidden file inside it. Inode numbers are reused, so a folder made later under the same name could match
// on those alone; it cannot hold the token.
struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    QByteArray token;
    bool operator==(const Identity&) const = default;
};

const QString tokenFileName = u".tarn-volume"_s;

bool writeFile(const QString& path, const QByteArray& contents) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit();
}

std::optional<Identity> identityOf(const QString& mountFolder) {
    struct stat status {};
    if (::lstat(QFile::encodeName(mountFolder).constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return std::nullopt;
    }
    QFile token(QDir(mountFolder).filePath(tokenFileName));
    if (!token.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return Identity{static_cast<quint64>(status.st_dev), static_cast<quint64>(status.st_ino), token.read(64).trimmed()};
}

// The hidden folder beside the volumes that records which mount folders this tool made: one file per
// mount folder, named like it, holding the folder's device, inode and the token of the hidden file
// ".tarn-volume" inside it, then the image's path.
QString markerDirectory(const Environment& environment) {
    return QDir(environment.volumesDirectory).filePath(u".tarn-attached"_s);
}

QString markerPath(const Environment& environment, const QString& mountFolder) {
    return QDir(markerDirectory(environment)).filePath(QFileInfo(mountFolder).fileName());
}

bool writeMarker(const QString& path, const Identity& identity, const QString& imagePath) {
    return writeFile(path, QByteArray::number(identity.device) + ' ' + QByteArray::number(identity.inode) + ' ' +
                                   identity.token + '\n' + imagePath.toUtf8() + '\n');
}

std::optional<Identity> readMarker(const QString& path) {
    QFile marker(path);
    if (!marker.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QList<QByteArray> fields = marker.readLine().trimmed().split(' ');
    if (fields.size() != 3 || fields[2].isEmpty()) {
        return std::nullopt;
    }
    bool deviceRead = false;
    bool inodeRead = false;
    Identity identity{fields[0].toULongLong(&deviceRead), fields[1].toULongLong(&inodeRead), fields[2]};
    if (!deviceRead || !inodeRead) {
        return std::nullopt;
    }
    return identity;
}

struct EntityHints {
    QString contentHint;
    QString volumeKind;
};

// How the system would describe the volume's file system, from the innermost format 7-Zip opened.
EntityHints volumeHints(const QStringList& formats) {
    const QString format = formats.isEmpty() ? QString() : formats.last();
    const auto is = [&](const char* name) { return format.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; };
    if (is("HFS") || is("HFSX")) {
        return {u"Apple_HFS"_s, u"hfs"_s};
    }
    if (is("APFS")) {
        return {u"Apple_APFS"_s, u"apfs"_s};
    }
    if (is("Iso")) {
        return {u"Apple_ISO"_s, u"cd9660"_s};
    }
    if (is("Udf")) {
        return {u"Apple_UDF"_s, u"udf"_s};
    }
    if (is("FAT")) {
        return {u"DOS_FAT_32"_s, u"msdos"_s};
    }
    return {format, format.toLower()};
}

QString schemeHint(const QStringList& formats) {
    const QString format = formats.isEmpty() ? QString() : formats.first();
    if (format.compare(QLatin1String("APM"), Qt::CaseInsensitive) == 0) {
        return u"Apple_partition_scheme"_s;
    }
    if (format.compare(QLatin1String("MBR"), Qt::CaseInsensitive) == 0) {
        return u"FDisk_partition_scheme"_s;
    }
    if (format.compare(QLatin1String("GPT"), Qt::CaseInsensitive) == 0 ||
        format.compare(QLatin1String("Dmg"), Qt::CaseInsensitive) == 0) {
        return u"GUID_partition_scheme"_s;
    }
    return u"CD_partition_scheme"_s;
}

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};

void setString(plist_t dictionary, const char* key, const QString& value) {
    plist_dict_set_item(dictionary, key, plist_new_string(value.toUtf8().constData()));
}

// The attach report as the system prints it: the image as a whole (no mount point), then the volume.
QByteArray attachPlist(const QStringList& formats, const QString& mountPoint) {
    std::unique_ptr<void, PlistDeleter> root(plist_new_dict());
    plist_t entities = plist_new_array();

    plist_t whole = plist_new_dict();
    setString(whole, "content-hint", schemeHint(formats));
    setString(whole, "unmapped-content-hint", schemeHint(formats));
    plist_dict_set_item(whole, "potentially-mountable", plist_new_bool(0));
    plist_array_append_item(entities, whole);

    const EntityHints hints = volumeHints(formats);
    plist_t volume = plist_new_dict();
    setString(volume, "content-hint", hints.contentHint);
    setString(volume, "unmapped-content-hint", hints.contentHint);
    setString(volume, "mount-point", mountPoint);
    plist_dict_set_item(volume, "potentially-mountable", plist_new_bool(1));
    setString(volume, "volume-kind", hints.volumeKind);
    plist_array_append_item(entities, volume);

    plist_dict_set_item(root.get(), "system-entities", entities);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    QByteArray text(xml, static_cast<qsizetype>(length));
    plist_to_xml_free(xml);
    return text;
}

QByteArray attachTable(const QStringList& formats, const QString& mountPoint) {
    return u"%1\n%2\t%3\n"_s.arg(schemeHint(formats), volumeHints(formats).contentHint, mountPoint).toUtf8();
}

// Removes what a failed attach made; the failure itself is what the caller reports.
class AttachCleanup {
public:
    explicit AttachCleanup(const Environment& environment) : environment(environment) {}
    ~AttachCleanup() {
        if (committed) {
            return;
        }
        if (!mountFolder.isEmpty()) {
            removeTree(mountFolder);
            QFile::remove(markerPath(environment, mountFolder));
        }
        if (!staging.isEmpty()) {
            removeTree(staging);
        }
    }
    AttachCleanup(const AttachCleanup&) = delete;
    AttachCleanup& operator=(const AttachCleanup&) = delete;

    QString staging;
    QString mountFolder;
    bool committed = false;

private:
    const Environment& environment;
};

// Lists the image without extracting it; refuses what is no disk image, whose entries would leave the
// volume, or whose contents would not fit the free space with a margin.
ImageListing inspect(const QString& absoluteImage, const Environment& environment) {
    if (!diskImageFormat(absoluteImage)) {
        throw Refusal{u"image not recognized (not a disk image: no UDIF, ISO 9660, UDF, HFS+, APFS or partition map "
                      u"signature)"_s};
    }
    const SevenZipResult listed = runSevenZip(environment.sevenZip, {u"l"_s, u"-slt"_s, u"--"_s, absoluteImage});
    if (!listed.finished || listed.exitCode != 0) {
        throw Refusal{u"image not recognized (%1)"_s.arg(sevenZipComplaint(listed))};
    }
    ImageListing listing;
    try {
        listing = ImageListing::parse(listed.standardOutput);
    } catch (const ListingError& error) {
        throw Refusal{u"image not recognized (%1)"_s.arg(QString::fromUtf8(error.what()))};
    }
    if (const auto unsafe = listing.firstUnsafeEntry()) {
        throw Refusal{u"unsafe image: %1"_s.arg(*unsafe)};
    }
    const quint64 needed = listing.contentSize();
    const quint64 margin = std::max(minimumSpaceMargin, needed / 10);
    const std::optional<quint64> free =
            (environment.freeBytes ? environment.freeBytes : availableBytes)(environment.volumesDirectory);
    if (!free || needed > *free || *free - needed < margin) {
        throw Refusal{
                u"the image's contents (%1 bytes) do not fit in the free space of %2 with a margin of %3 bytes"_s.arg(
                        QString::number(needed), quoted(environment.volumesDirectory), QString::number(margin))};
    }
    return listing;
}

// Extracts the image into a staging folder beside the volumes; answers the volume's root in it.
QString extract(const QString& absoluteImage, const ImageListing& listing, const Environment& environment,
                AttachCleanup& cleanup) {
    QTemporaryDir staging(QDir(environment.volumesDirectory).filePath(u".tarn-staging-XXXXXX"_s));
    if (!staging.isValid()) {
        throw Refusal{u"cannot create a folder in %1"_s.arg(quoted(environment.volumesDirectory))};
    }
    staging.setAutoRemove(false); // its tree may turn read-only; the cleanup knows how to remove it
    cleanup.staging = staging.path();

    const SevenZipResult extracted =
            runSevenZip(environment.sevenZip, {u"x"_s, u"-y"_s, u"-o%1"_s.arg(staging.path()), u"--"_s, absoluteImage});
    if (!extracted.finished || extracted.exitCode != 0) {
        throw Refusal{u"the image could not be read (%1)"_s.arg(sevenZipComplaint(extracted))};
    }
    // The last point to stop: the cleanup removes the staging as the interruption unwinds.
    tool::SignalDeferral::checkpoint("extracted");

    const auto folder = listing.volumeFolder();
    const QString volumeRoot = folder ? QDir(staging.path()).filePath(*folder) : staging.path();
    if (!QFileInfo(volumeRoot).isDir()) {
        throw Refusal{u"the image holds no volume"_s};
    }
    if (const auto escape = firstEscape(staging.path())) {
        throw Refusal{u"unsafe image: %1"_s.arg(*escape)};
    }
    return volumeRoot;
}

// Moves the volume onto a claimed mount folder, records the folder as this tool's and makes it read-only.
QString mount(const QString& volumeRoot, const QString& name, const QString& absoluteImage,
              const Environment& environment, AttachCleanup& cleanup) {
    const QString mountFolder = claimMountFolder(environment.volumesDirectory, name);
    cleanup.mountFolder = mountFolder;
    // Renaming onto the claimed, empty folder replaces it in one step.
    if (std::rename(QFile::encodeName(volumeRoot).constData(), QFile::encodeName(mountFolder).constData()) != 0) {
        throw Refusal{u"cannot move the volume to %1: %2"_s.arg(quoted(mountFolder),
                                                                QString::fromLocal8Bit(std::strerror(errno)))};
    }
    const QByteArray token = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const bool tokenWritten = writeFile(QDir(mountFolder).filePath(tokenFileName), token + '\n');
    const auto identity = identityOf(mountFolder);
    if (!tokenWritten || !identity || !writeMarker(markerPath(environment, mountFolder), *identity, absoluteImage)) {
        throw Refusal{u"cannot record the mount folder %1"_s.arg(quoted(mountFolder))};
    }
    if (const auto readOnlyFailure = makeReadOnly(mountFolder)) {
        throw Refusal{*readOnlyFailure};
    }
    return mountFolder;
}

Outcome attach(const QString& imagePath, bool plistOutput, const Environment& environment) {
    const QFileInfo image(imagePath);
    try {
        if (!image.exists() || image.isDir()) {
            throw Refusal{u"No such file or directory"_s};
        }
        if (environment.sevenZip.isEmpty()) {
            throw Refusal{u"7-Zip (7zz) is not installed"_s};
        }
        if (!QDir().mkpath(environment.volumesDirectory) || !QDir().mkpath(markerDirectory(environment))) {
            throw Refusal{u"cannot create %1"_s.arg(quoted(environment.volumesDirectory))};
        }
        const QString absoluteImage = image.absoluteFilePath();
        const ImageListing listing = inspect(absoluteImage, environment);
        AttachCleanup cleanup(environment);
        const QString volumeRoot = extract(absoluteImage, listing, environment, cleanup);
        const auto folder = listing.volumeFolder();
        const QString mountFolder = mount(volumeRoot, volumeName(folder ? *folder : image.completeBaseName()),
                                          absoluteImage, environment, cleanup);
        if (const auto stagingFailure = removeTree(cleanup.staging)) {
            throw Refusal{*stagingFailure};
        }
        cleanup.staging.clear();
        cleanup.committed = true;

        const QString mountPoint = QFileInfo(mountFolder).canonicalFilePath();
        return {0,
                plistOutput ? attachPlist(listing.formats(), mountPoint) : attachTable(listing.formats(), mountPoint),
                {}};
    } catch (const Refusal& refusal) {
        return failed(u"attach"_s, refusal.reason);
    }
}

Outcome detach(const QString& mountPoint, bool quiet, const Environment& environment) {
    const QString verb = u"detach"_s;
    const QFileInfo target(mountPoint);
    if (!target.exists()) {
        return failed(verb, u"No such file or directory"_s);
    }
    const QString canonical = target.canonicalFilePath();
    const QString volumes = QFileInfo(environment.volumesDirectory).canonicalFilePath();
    const auto recorded = readMarker(markerPath(environment, canonical));
    const bool attachedHere = !volumes.isEmpty() && QFileInfo(canonical).dir().path() == volumes && recorded &&
                              recorded == identityOf(canonical);
    if (!attachedHere) {
        return failed(verb, u"%1 is not a volume attached by hdiutil"_s.arg(quoted(mountPoint)));
    }
    if (const auto removalFailure = removeTree(canonical)) {
        return failed(verb, *removalFailure);
    }
    QFile::remove(markerPath(environment, canonical));
    if (quiet) {
        return {};
    }
    return {0, u"\"%1\" ejected.\n"_s.arg(mountPoint).toUtf8(), {}};
}

} // namespace

Environment Environment::fromProcess() {
    Environment environment;
    const QString systemRoot = qEnvironmentVariable("TARN_SYSTEM_ROOT");
    if (!systemRoot.isEmpty()) {
        try {
            const tool::RootedFiles files{tool::SystemRoot(systemRoot)};
            tool::FileDescriptor volumes = files.open(u"/Volumes"_s, O_PATH | O_DIRECTORY);
            if (!volumes && errno == ENOENT) {
                const tool::RootedFiles::Entry entry = files.entry(u"/Volumes"_s);
                ::mkdirat(entry.folder.get(), entry.name.constData(), 0755);
                volumes = files.open(u"/Volumes"_s, O_PATH | O_DIRECTORY);
            }
            if (!volumes) {
                throw tool::ToolError(u"cannot open /Volumes in the system root: %1"_s.arg(tool::errnoText(errno)));
            }
            // Its real path: 7-Zip takes a path, and this one holds no link.
            environment.volumesDirectory = tool::RootedFiles::hostPath(volumes);
        } catch (const tool::ToolError& error) {
            environment.problem = error.message();
        }
    } else {
        environment.volumesDirectory = QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                                               .filePath(u"tarn-installer/Volumes"_s);
    }
    environment.sevenZip = QStandardPaths::findExecutable(u"7zz"_s);
    return environment;
}

Outcome run(const QStringList& arguments, const Environment& environment) {
    if (arguments.isEmpty()) {
        return usageError(u"no verb given"_s);
    }
    const QString verb = arguments.first();
    if (!environment.problem.isEmpty()) {
        return failed(verb, environment.problem);
    }
    QStringList operands;
    QStringList options;
    for (const QString& argument : arguments.mid(1)) {
        (argument.startsWith(u'-') ? options : operands).append(argument);
    }

    if (verb == QLatin1String("attach")) {
        for (const QString& option : options) {
            if (option != QLatin1String("-nobrowse") && option != QLatin1String("-plist") &&
                option != QLatin1String("-readonly")) {
                return usageError(u"attach: unknown option %1"_s.arg(quoted(option)));
            }
        }
        if (operands.size() != 1) {
            return usageError(u"attach: exactly one image expected"_s);
        }
        return attach(operands.first(), options.contains(u"-plist"_s), environment);
    }
    if (verb == QLatin1String("detach")) {
        for (const QString& option : options) {
            if (option != QLatin1String("-quiet") && option != QLatin1String("-force")) {
                return usageError(u"detach: unknown option %1"_s.arg(quoted(option)));
            }
        }
        if (operands.size() != 1) {
            return usageError(u"detach: exactly one mount point expected"_s);
        }
        return detach(operands.first(), options.contains(u"-quiet"_s), environment);
    }
    return usageError(u"unknown verb %1"_s.arg(quoted(verb)));
}

} // namespace tarn::hdiutil
