#include "services/RestClientError.h"

#include <iterator>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

QString caseName(RestClientError::Case errorCase) {
    // In declaration order.
    static constexpr QStringView names[] = {u"networkError", u"decodingError",   u"fileHandlingError",
                                            u"invalidURL",   u"invalidResponse", u"unknown"};
    const auto index = static_cast<size_t>(errorCase);
    return index < std::size(names) ? names[index].toString() : u"unknown"_s;
}

} // namespace

QString RestClientError::localizedDescription() const {
    switch (errorCase) {
    case Case::networkError:
        return u"The transfer failed: %1"_s.arg(tarn::localizedDescription(underlyingError));
    case Case::decodingError:
        return u"The answer could not be decoded: %1"_s.arg(tarn::localizedDescription(underlyingError));
    case Case::fileHandlingError:
        return u"The downloaded file could not be stored: %1"_s.arg(tarn::localizedDescription(underlyingError));
    case Case::invalidURL:
        return u"The address is not a valid URL."_s;
    case Case::invalidResponse:
        return u"The server did not answer with a successful HTTP response."_s;
    case Case::unknown:
        break;
    }
    return u"An unknown network error occurred."_s;
}

QString RestClientError::debugDescription() const {
    const QString name = caseName(errorCase);
    const bool carriesUnderlying =
            errorCase == Case::networkError || errorCase == Case::decodingError || errorCase == Case::fileHandlingError;
    return carriesUnderlying ? u"%1(%2)"_s.arg(name, tarn::debugDescription(underlyingError)) : name;
}

} // namespace tarn
