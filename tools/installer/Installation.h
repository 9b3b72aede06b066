#pragma once

#include "PackageContents.h"
#include "common/SystemRoot.h"
#include "common/Xar.h"

#include <QStringList>

#include <functional>

namespace tarn::tool {

// Installs every component of a package as one change to the system. First every payload is read and
// checked without writing anything; then each is extracted into a staging folder beside its install
// location; then the staged files are moved into place (replacing older ones, removing what the previous
// version's receipt lists and the new one lacks); the receipts come last. A failure at any point undoes
// everything done so far. Answers problems met while tidying up after success (nothing to undo).
// Files installed with a set-user-ID or set-group-ID bit keep it (packages install such helpers on
// purpose); each is told to `notice` once the installation has succeeded, so that it shows in the log.
QStringList installPackage(const XarArchive& archive, const PackageContents& contents, const SystemRoot& root,
                           const std::function<void(const QString&)>& notice = {});

} // namespace tarn::tool
