// The CCZ container reader, from memory and through a file.
#include "core/CCCompressedData.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned char* out = nullptr;
    int n = inflateCCZBuffer(data, size, &out);
    if ((n < 0) != (out == nullptr)) __builtin_trap();
    CCMallocPtr keep(out);
    if (n > 0) {
        volatile unsigned char last = out[n - 1];
        (void)last;
    }
    MemoryFile file(data, size);
    if (!file.path().empty()) {
        unsigned char* again = nullptr;
        int m = inflateCCZFile(file.path().c_str(), &again);
        CCMallocPtr keepAgain(again);
        if (m != n) __builtin_trap();
    }
    return 0;
}
