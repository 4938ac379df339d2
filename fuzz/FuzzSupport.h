// Helpers shared by the fuzz targets.
#pragma once

#include "platform/Log.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

// The input as an anonymous in-memory file, for readers that take a path.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size) {
        fd_ = memfd_create("fuzz-input", MFD_CLOEXEC);
        if (fd_ < 0) return;
        size_t done = 0;
        while (done < size) {
            ssize_t n = write(fd_, data + done, size - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0) close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    // Empty when the file could not be made.
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// Rejected inputs log why; a fuzzing run makes millions of them.
inline const bool kFuzzLogSilenced = [] {
    platform::setLogSink([](const std::string&) {});
    return true;
}();
