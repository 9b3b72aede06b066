#pragma once

#include "PackageContents.h"
#include "common/SystemRoot.h"
#include "common/Xar.h"

#include <QStringList>

namespace tarn::tool {

// Installs every component of a package as one change to the system. First every payload is read and
// checked without writing anything; then each is extracted into a staging folder beside its install
// location; then the staged files are moved into place (replacing older ones, removing what the previous
// version's receipt lists and the new one lacks); the receipts come last. A failure at any point undoes
// everything done so far. Answers problems met while tidying up after success (nothing to undo).
QStringList installPackage(const XarArchive& archive, const PackageContents& contents, const SystemRoot& root);

} // namespace tarn::tool
