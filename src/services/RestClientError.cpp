#include "services/RestClientError.h"

namespace tarn {

QString RestClientError::localizedDescription() const {
    switch (errorCase) {
    case Case::networkError:
        return QStringLiteral("The transfer failed: ") + tarn::localizedDescription(underlyingError);
    case Case::decodingError:
        return QStringLiteral("The answer could not be decoded: ") + tarn::localizedDescription(underlyingError);
    case Case::fileHandlingError:
        return QStringLiteral("The downloaded file could not be stored: ") +
               tarn::localizedDescription(underlyingError);
    case Case::invalidURL:
        return QStringLiteral("The address is not a valid URL.");
    case Case::invalidResponse:
        return QStringLiteral("The server did not answer with a successful HTTP response.");
    case Case::unknown:
        break;
    }
    return QStringLiteral("An unknown network error occurred.");
}

QString RestClientError::debugDescription() const {
    switch (errorCase) {
    case Case::networkError:
        return QStringLiteral("networkError(") + tarn::debugDescription(underlyingError) + u')';
    case Case::decodingError:
        return QStringLiteral("decodingError(") + tarn::debugDescription(underlyingError) + u')';
    case Case::fileHandlingError:
        return QStringLiteral("fileHandlingError(") + tarn::debugDescription(underlyingError) + u')';
    case Case::invalidURL:
        return QStringLiteral("invalidURL");
    case Case::invalidResponse:
        return QStringLiteral("invalidResponse");
    case Case::unknown:
        break;
    }
    return QStringLiteral("unknown");
}

} // namespace tarn
