// gzip files through the file reader.
#include "core/CCCompressedData.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile file(data, size);
    if (file.path().empty()) return 0;
    unsigned char* out = nullptr;
    int n = inflateGZipFile(file.path().c_str(), &out);
    CCMallocPtr keep(out);
    if (n > 0 && out == nullptr) __builtin_trap();
    if (n > 0) {
        volatile unsigned char last = out[n - 1];
        (void)last;
    }
    return 0;
}
