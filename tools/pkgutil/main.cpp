// pkgutil: checks package signatures and answers from the receipt database, with the command line and
// the outputs of the macOS tool of the same name.
#include "SignatureCheck.h"
#include "base/PrintableText.h"
#include "common/Receipts.h"
#include "common/SystemRoot.h"
#include "common/ToolError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

using namespace tarn::tool;

void writeOut(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeError(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

int usage() {
    writeError(u"usage: pkgutil --check-signature PKG\n"
               "       pkgutil --export-plist PKGID\n"
               "       pkgutil --pkgs[=REGEX]\n"
               "       pkgutil --files PKGID\n"
               "       pkgutil --forget PKGID"_s);
    return 1;
}

int checkSignatureCommand(const QString& packagePath, const SystemRoot& root) {
    const QString name = QFileInfo(packagePath).fileName();
    const SignatureReport report = checkSignature(packagePath, root);
    writeOut(formatReport(name, report).toUtf8());
    if (report.status != SignatureStatus::trusted) {
        writeError(failureLine(name, report));
        return 1;
    }
    return 0;
}

Receipt requireReceipt(const ReceiptDatabase& receipts, const QString& pkgid) {
    auto receipt = receipts.find(pkgid);
    if (!receipt) {
        throw ToolError(u"No receipt for '%1' found at '/'."_s.arg(pkgid));
    }
    return *receipt;
}

int listPackages(const ReceiptDatabase& receipts, const QString& pattern) {
    const QRegularExpression filter(QRegularExpression::anchoredPattern(pattern.isEmpty() ? u".*"_s : pattern));
    if (!filter.isValid()) {
        throw ToolError(u"invalid regular expression '%1'"_s.arg(pattern));
    }
    QByteArray output;
    for (const auto& pkgid : receipts.identifiers()) {
        if (filter.match(pkgid).hasMatch()) {
            output += pkgid.toUtf8() + '\n';
        }
    }
    writeOut(output);
    return 0;
}

int run(const QStringList& arguments) {
    if (arguments.isEmpty()) {
        return usage();
    }
    const QString& command = arguments.first();
    const ReceiptDatabase receipts(SystemRoot::fromEnvironment());
    if (command == QLatin1String("--pkgs") && arguments.size() == 1) {
        return listPackages(receipts, QString());
    }
    if (command.startsWith(QLatin1String("--pkgs=")) && arguments.size() == 1) {
        return listPackages(receipts, command.mid(7));
    }
    if (arguments.size() != 2) {
        return usage();
    }
    const QString& operand = arguments.at(1);
    if (command == QLatin1String("--check-signature")) {
        return checkSignatureCommand(operand, receipts.root());
    }
    if (command == QLatin1String("--export-plist")) {
        writeOut(receipts.exportPlist(requireReceipt(receipts, operand)));
        return 0;
    }
    if (command == QLatin1String("--files")) {
        QByteArray output;
        for (const auto& path : requireReceipt(receipts, operand).paths) {
            output += tarn::printableText(path.path).toUtf8() + '\n';
        }
        writeOut(output);
        return 0;
    }
    if (command == QLatin1String("--forget")) {
        requireReceipt(receipts, operand);
        receipts.forget(operand);
        writeOut(u"Forgot package '%1' on '/'.\n"_s.arg(operand).toUtf8());
        return 0;
    }
    return usage();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    try {
        return run(arguments);
    } catch (const ToolError& error) {
        writeError(error.message());
        return 1;
    }
}
