// base64 text, through the allocating decoder and into a buffer that is too small.
#include "core/CCCompressedData.h"
#include "fuzz/FuzzSupport.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned char* out = nullptr;
    int n = base64Decode(data, size, &out);
    CCMallocPtr keep(out);
    if ((n > 0) != (out != nullptr)) __builtin_trap();
    if (n < 0 || static_cast<size_t>(n) > size * 3 / 4 + 1) __builtin_trap();

    std::vector<unsigned char> small(size / 8);
    size_t length = 0;
    if (base64DecodeCore(data, size, small.data(), small.size(), &length) == 0 && length > small.size())
        __builtin_trap();
    return 0;
}
