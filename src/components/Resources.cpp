#include "components/Resources.h"

#include <QFontDatabase>

namespace tarn {

using namespace Qt::StringLiterals;

bool registerFonts() {
    bool allRegistered = true;
    for (const char* face : {"Poppins-Medium", "Poppins-Light", "Poppins-Regular", "Poppins-Bold"}) {
        const QString path = u":/fonts/%1.ttf"_s.arg(QLatin1String(face));
        allRegistered = QFontDatabase::addApplicationFont(path) >= 0 && allRegistered;
    }
    return allRegistered;
}

} // namespace tarn
