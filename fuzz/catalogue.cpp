// The configuration service's two JSON documents: the device catalogue and a device's applications.
#include "FuzzSupport.h"
#include "models/CatalogueDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray json = tarn::fuzz::bytes(data, size);
    try {
        (void)tarn::decodeDeviceCatalogue(json);
    } catch (const tarn::DecodingError&) {
    }
    try {
        (void)tarn::decodeAppsConfiguration(json);
    } catch (const tarn::DecodingError&) {
    }
    return 0;
}
