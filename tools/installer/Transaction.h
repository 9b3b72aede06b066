#pragma once

#include "common/RootedFiles.h"

#include <QByteArray>
#include <QStringList>

#include <sys/types.h>
#include <vector>

namespace tarn::tool {

// Changes to the file system that can be undone: every step is recorded, and rollback() undoes them in
// reverse order. Replaced and removed files are moved aside next to where they were (so the move never
// crosses file systems) and deleted only by commit(). Destroying an uncommitted transaction rolls it back.
// Paths are absolute within the system root; each step resolves them through `files`, never leaving it.
class Transaction {
public:
    explicit Transaction(const RootedFiles& files) : files(files) {}
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Creates the missing folders from "/" down to `directory`, following links inside the root.
    void createDirectories(const QString& directory);
    // Creates one new folder, owner-writable until commit() gives it `finalMode`.
    void makeDirectory(const QString& directory, mode_t finalMode);
    // Moves whatever is at `target` aside, to be deleted on commit and put back on rollback.
    void moveAside(const QString& target);
    // Moves `source` to `target`, where nothing may be.
    void moveIn(const QString& source, const QString& target);
    void writeFile(const QString& target, const QByteArray& contents);
    // Removes a folder, to be recreated on rollback; answers false, changing nothing, when it is not empty.
    bool removeEmptyDirectory(const QString& directory);

    // Keeps every change: deletes what was moved aside and gives new folders their final modes. Problems
    // here leave the installation intact and are only reported.
    QStringList commit();
    // Undoes every change; answers what could not be undone.
    QStringList rollback() noexcept;

private:
    enum class Kind { createdDirectory, placed, movedAside, removedDirectory };
    struct Step {
        Kind kind;
        QString target;
        QString aside;
        mode_t mode = 0; // 0: none to set
    };

    const RootedFiles& files;
    std::vector<Step> steps;
    bool finished = false;
};

} // namespace tarn::tool
