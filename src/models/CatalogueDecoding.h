#pragma once

#include "models/DecodingError.h"
#include "models/TARNDeviceAppConfigurationModel.h"
#include "models/TARNDeviceModel.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace tarn {

// Strict decoders of the configuration service's two documents. A document decodes whole or not at
// all: the first missing, null or mistyped value throws a DecodingError naming its key path.

// The catalogue: a JSON array of devices, or the literal null (no value).
std::optional<QList<TARNDeviceModel>> decodeDeviceCatalogue(const QByteArray& json);

// A device's application configuration: one JSON object. Every entry gets a fresh id.
TARNDeviceAppsConfigurationModel decodeAppsConfiguration(const QByteArray& json);

// Maps a decoded type to its decoder, so a fetch can be written once for every document.
template <typename T>
struct JsonDocumentDecoder;

template <>
struct JsonDocumentDecoder<std::optional<QList<TARNDeviceModel>>> {
    static std::optional<QList<TARNDeviceModel>> decode(const QByteArray& json) { return decodeDeviceCatalogue(json); }
};

template <>
struct JsonDocumentDecoder<TARNDeviceAppsConfigurationModel> {
    static TARNDeviceAppsConfigurationModel decode(const QByteArray& json) { return decodeAppsConfiguration(json); }
};

} // namespace tarn
