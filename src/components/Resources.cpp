#include "components/Resources.h"

#include <QFontDatabase>

namespace tarn {

bool registerFonts() {
    bool allRegistered = true;
    for (const char* face : {"Poppins-Medium", "Poppins-Light", "Poppins-Regular", "Poppins-Bold"}) {
        const QString path = QStringLiteral(":/fonts/%1.ttf").arg(QLatin1String(face));
        allRegistered = QFontDatabase::addApplicationFont(path) >= 0 && allRegistered;
    }
    return allRegistered;
}

} // namespace tarn
