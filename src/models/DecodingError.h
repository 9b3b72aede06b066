#pragma once

#include "base/Error.h"

#include <QString>

namespace tarn {

// Why a document could not be decoded, and where: the key path from the root ("apps[2].mandatory").
class DecodingError final : public Error {
public:
    enum class Kind {
        dataCorrupted, // not JSON, or a root of the wrong kind
        keyNotFound,   // a required key is missing
        valueNotFound, // a required key is null
        typeMismatch,  // a value of the wrong JSON type
    };

    DecodingError(Kind kind, QString codingPath, QString problem)
        : errorKind(kind), path(std::move(codingPath)), problemText(std::move(problem)) {}

    Kind kind() const { return errorKind; }

    QString localizedDescription() const override;
    QString debugDescription() const override;

private:
    Kind errorKind;
    QString path;
    QString problemText;
};

} // namespace tarn
