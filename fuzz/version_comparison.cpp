// The version comparison that decides whether an installed application is kept: up to three versions
// from one input, one a line. Whatever the strings hold, it must be a consistent order: reflexive,
// antisymmetric and transitive.
#include "FuzzSupport.h"
#include "services/PkgUtilHelper.h"

#include <QStringList>

#include <cstdlib>

namespace {

int compare(const QString& left, const QString& right) {
    const int result = tarn::PkgUtilHelper::compareVersions(left, right);
    return (result > 0) - (result < 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList versions = QString::fromUtf8(tarn::fuzz::bytes(data, size)).split(QLatin1Char('\n'));
    versions.resize(3);
    const QString& a = versions[0];
    const QString& b = versions[1];
    const QString& c = versions[2];

    if (compare(a, a) != 0 || compare(a, b) != -compare(b, a)) {
        std::abort();
    }
    if (compare(a, b) <= 0 && compare(b, c) <= 0 && compare(a, c) > 0) {
        std::abort();
    }
    if (compare(a, b) == 0 && compare(b, c) == 0 && compare(a, c) != 0) {
        std::abort();
    }
    return 0;
}
