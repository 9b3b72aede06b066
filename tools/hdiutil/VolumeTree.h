#pragma once

#include <QString>

#include <optional>

namespace tarn::hdiutil {

// Checks and handling of an extracted volume on disk. None of them follows a symbolic link, so a link
// inside a volume can never make them look at, change or delete anything outside it.

// The first thing in the tree at `root` that reaches outside it: a link whose target is absolute, dangling
// or resolves outside, a file hard-linked from outside, or a device, pipe or socket. Empty when none.
std::optional<QString> firstEscape(const QString& root);

// Takes every write permission away from the tree's folders and files. Answers an error text on failure.
std::optional<QString> makeReadOnly(const QString& root);

// Deletes the tree, restoring write permission on its folders first. Answers an error text on failure.
std::optional<QString> removeTree(const QString& root);

} // namespace tarn::hdiutil
