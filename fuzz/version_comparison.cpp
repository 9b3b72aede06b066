// The version comparison that decides whether an installed application is kept: two versions from
// one input, split at the first line break. It must be a consistent order whatever the strings hold.
#include "FuzzSupport.h"
#include "services/PkgUtilHelper.h"

#include <cstdlib>

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(tarn::fuzz::bytes(data, size));
    const qsizetype split = text.indexOf(QLatin1Char('\n'));
    const QString left = split < 0 ? text : text.left(split);
    const QString right = split < 0 ? QString() : text.mid(split + 1);

    const int forward = tarn::PkgUtilHelper::compareVersions(left, right);
    const int backward = tarn::PkgUtilHelper::compareVersions(right, left);
    if (sign(forward) != -sign(backward) || tarn::PkgUtilHelper::compareVersions(left, left) != 0) {
        std::abort();
    }
    return 0;
}
