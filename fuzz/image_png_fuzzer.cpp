// Feeds arbitrary PNG data to the image decoder.
#include "fuzz/ImageFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzImageDecoder(data, size, "\x89PNG", 4);
}
