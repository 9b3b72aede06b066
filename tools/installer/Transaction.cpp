#include "Transaction.h"

#include "common/ToolError.h"

#include <QFile>
#include <QRandomGenerator>

namespace tarn::tool {

namespace fs = std::filesystem;

namespace {

QString describe(const fs::path& path) {
    return QString::fromStdString(path.string());
}

[[noreturn]] void failed(const QString& action, const fs::path& path, const std::error_code& error) {
    throw ToolError(
            QStringLiteral("cannot %1 '%2': %3").arg(action, describe(path), QString::fromStdString(error.message())));
}

} // namespace

Transaction::~Transaction() {
    if (!finished) {
        rollback();
    }
}

void Transaction::createDirectories(const fs::path& base, const fs::path& directory) {
    const fs::path relative = directory.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..") {
        if (directory == base) {
            return;
        }
        throw ToolError(QStringLiteral("'%1' lies outside '%2'").arg(describe(directory), describe(base)));
    }
    fs::path current = base;
    for (const auto& component : relative) {
        if (component == ".") {
            continue;
        }
        current /= component;
        std::error_code error;
        const fs::file_status status = fs::status(current, error);
        if (fs::is_directory(status)) {
            continue;
        }
        if (fs::exists(status)) {
            throw ToolError(QStringLiteral("'%1' is not a folder").arg(describe(current)));
        }
        if (!fs::create_directory(current, error)) {
            failed(QStringLiteral("create the folder"), current, error);
        }
        steps.push_back({Kind::createdDirectory, current, {}, fs::perms::none});
    }
}

void Transaction::makeDirectory(const fs::path& directory, fs::perms finalMode) {
    std::error_code error;
    if (!fs::create_directory(directory, error)) {
        failed(QStringLiteral("create the folder"), directory,
               error ? error : std::make_error_code(std::errc::file_exists));
    }
    steps.push_back({Kind::createdDirectory, directory, {}, finalMode});
    fs::permissions(directory, finalMode | fs::perms::owner_all, error);
}

fs::path Transaction::asideNameFor(const fs::path& target) const {
    for (;;) {
        const QString name = QStringLiteral(".tarn-installer-aside-%1")
                                     .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
        fs::path candidate = target.parent_path() / name.toStdString();
        std::error_code error;
        if (!fs::exists(fs::symlink_status(candidate, error))) {
            return candidate;
        }
    }
}

void Transaction::moveAside(const fs::path& target) {
    const fs::path aside = asideNameFor(target);
    std::error_code error;
    fs::rename(target, aside, error);
    if (error) {
        failed(QStringLiteral("move aside"), target, error);
    }
    steps.push_back({Kind::movedAside, target, aside, fs::perms::none});
}

void Transaction::moveIn(const fs::path& source, const fs::path& target) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(target, error))) {
        throw ToolError(QStringLiteral("'%1' is in the way").arg(describe(target)));
    }
    fs::rename(source, target, error);
    if (error) {
        failed(QStringLiteral("move into place"), target, error);
    }
    steps.push_back({Kind::placed, target, {}, fs::perms::none});
}

void Transaction::writeFile(const fs::path& target, const QByteArray& contents) {
    QFile file(describe(target));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        throw ToolError(QStringLiteral("cannot write '%1': %2").arg(describe(target), file.errorString()));
    }
    steps.push_back({Kind::placed, target, {}, fs::perms::none});
    if (file.write(contents) != contents.size() || !file.flush()) {
        throw ToolError(QStringLiteral("cannot write '%1': %2").arg(describe(target), file.errorString()));
    }
}

void Transaction::removeEmptyDirectory(const fs::path& directory) {
    std::error_code error;
    const fs::perms mode = fs::status(directory, error).permissions();
    if (!fs::remove(directory, error)) {
        failed(QStringLiteral("remove the folder"), directory, error);
    }
    steps.push_back({Kind::removedDirectory, directory, {}, mode});
}

QStringList Transaction::commit() {
    finished = true;
    QStringList problems;
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        std::error_code error;
        if (step->kind == Kind::movedAside) {
            fs::remove_all(step->aside, error);
        } else if (step->kind == Kind::createdDirectory && step->mode != fs::perms::none) {
            fs::permissions(step->target, step->mode, error);
        }
        if (error) {
            problems.append(
                    QStringLiteral("'%1': %2").arg(describe(step->target), QString::fromStdString(error.message())));
        }
    }
    steps.clear();
    return problems;
}

QStringList Transaction::rollback() noexcept {
    finished = true;
    QStringList problems;
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        std::error_code error;
        switch (step->kind) {
        case Kind::placed:
            fs::remove(step->target, error);
            break;
        case Kind::createdDirectory:
            fs::remove(step->target, error);
            break;
        case Kind::movedAside:
            fs::rename(step->aside, step->target, error);
            break;
        case Kind::removedDirectory:
            if (fs::create_directory(step->target, error)) {
                fs::permissions(step->target, step->mode, error);
            }
            break;
        }
        if (error) {
            problems.append(
                    QStringLiteral("'%1': %2").arg(describe(step->target), QString::fromStdString(error.message())));
        }
    }
    steps.clear();
    return problems;
}

} // namespace tarn::tool
