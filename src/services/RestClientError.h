#pragma once

#include "base/Error.h"

#include <exception>

namespace tarn {

// The REST client's own failures. Three cases carry the error underneath; the workflow shows every
// one of them as a connectivity problem.
class RestClientError final : public Error {
public:
    enum class Case { networkError, decodingError, fileHandlingError, invalidURL, invalidResponse, unknown };

    static RestClientError networkError(std::exception_ptr underlying) {
        return {Case::networkError, std::move(underlying)};
    }
    static RestClientError decodingError(std::exception_ptr underlying) {
        return {Case::decodingError, std::move(underlying)};
    }
    static RestClientError fileHandlingError(std::exception_ptr underlying) {
        return {Case::fileHandlingError, std::move(underlying)};
    }
    static RestClientError invalidURL() { return {Case::invalidURL, nullptr}; }
    static RestClientError invalidResponse() { return {Case::invalidResponse, nullptr}; }
    static RestClientError unknown() { return {Case::unknown, nullptr}; }

    Case kind() const { return errorCase; }
    // The error underneath, for the three cases that carry one.
    const std::exception_ptr& underlying() const { return underlyingError; }

    QString localizedDescription() const override;
    QString debugDescription() const override;

private:
    RestClientError(Case errorCase, std::exception_ptr underlying)
        : errorCase(errorCase), underlyingError(std::move(underlying)) {}

    Case errorCase;
    std::exception_ptr underlyingError;
};

} // namespace tarn
