// hdiutil's reading of 7-Zip's technical listing of a disk image, whose names the image's maker chose.
#include "FuzzSupport.h"
#include "hdiutil/ImageListing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const tarn::hdiutil::ImageListing listing = tarn::hdiutil::ImageListing::parse(tarn::fuzz::bytes(data, size));
        (void)listing.firstUnsafeEntry();
        (void)listing.volumeFolder();
    } catch (const tarn::hdiutil::ListingError&) {
    }
    return 0;
}
