#include "services/RestClientError.h"

namespace tarn {

using namespace Qt::StringLiterals;

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
    switch (errorCase) {
    case Case::networkError:
        return u"networkError(%1)"_s.arg(tarn::debugDescription(underlyingError));
    case Case::decodingError:
        return u"decodingError(%1)"_s.arg(tarn::debugDescription(underlyingError));
    case Case::fileHandlingError:
        return u"fileHandlingError(%1)"_s.arg(tarn::debugDescription(underlyingError));
    case Case::invalidURL:
        return u"invalidURL"_s;
    case Case::invalidResponse:
        return u"invalidResponse"_s;
    case Case::unknown:
        break;
    }
    return u"unknown"_s;
}

} // namespace tarn
