// zlib and gzip buffers; the first byte picks a small size hint so the output has to grow.
#include "core/CCCompressedData.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t hint = size_t(1) << (data[0] % 20);
    unsigned char* out = nullptr;
    int n = inflateMemoryWithHint(data + 1, size - 1, &out, hint);
    CCMallocPtr keep(out);
    if ((n > 0) != (out != nullptr)) __builtin_trap();
    if (n > 0) {
        volatile unsigned char last = out[n - 1];
        (void)last;
    }
    return 0;
}
