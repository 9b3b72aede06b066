#pragma once

#include <QByteArray>
#include <QStringList>

#include <filesystem>
#include <vector>

namespace tarn::tool {

// Changes to the file system that can be undone: every step is recorded, and rollback() undoes them in
// reverse order. Replaced and removed files are moved aside next to where they were (so the move never
// crosses file systems) and deleted only by commit(). Destroying an uncommitted transaction rolls it back.
class Transaction {
public:
    Transaction() = default;
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Creates the missing folders from `base` (which must exist) down to `directory`.
    void createDirectories(const std::filesystem::path& base, const std::filesystem::path& directory);
    // Creates one new folder, owner-writable until commit() gives it `finalMode`.
    void makeDirectory(const std::filesystem::path& directory, std::filesystem::perms finalMode);
    // Moves whatever is at `target` aside, to be deleted on commit and put back on rollback.
    void moveAside(const std::filesystem::path& target);
    // Moves `source` to `target`, where nothing may be.
    void moveIn(const std::filesystem::path& source, const std::filesystem::path& target);
    void writeFile(const std::filesystem::path& target, const QByteArray& contents);
    // Removes an empty folder, to be recreated on rollback.
    void removeEmptyDirectory(const std::filesystem::path& directory);

    // Keeps every change: deletes what was moved aside and gives new folders their final modes. Problems
    // here leave the installation intact and are only reported.
    QStringList commit();
    // Undoes every change; answers what could not be undone.
    QStringList rollback() noexcept;

private:
    enum class Kind { createdDirectory, placed, movedAside, removedDirectory };
    struct Step {
        Kind kind;
        std::filesystem::path target;
        std::filesystem::path aside;
        std::filesystem::perms mode = std::filesystem::perms::none;
    };

    std::filesystem::path asideNameFor(const std::filesystem::path& target) const;

    std::vector<Step> steps;
    bool finished = false;
};

} // namespace tarn::tool
