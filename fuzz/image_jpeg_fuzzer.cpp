// Feeds arbitrary JPEG data to the image decoder.
#include "fuzz/ImageFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzImageDecoder(data, size, "\xFF\xD8", 2);
}
