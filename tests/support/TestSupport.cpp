#include "tests/support/TestSupport.h"

namespace fltest {

std::filesystem::path sharedTestData() {
    std::filesystem::path p = std::filesystem::path(FL_SOURCE_DIR).parent_path() / "shared" / "testdata";
    std::error_code ec;
    return std::filesystem::is_directory(p, ec) ? p : std::filesystem::path{};
}

std::filesystem::path projectTestData(const std::string& relative) {
    return std::filesystem::path(FL_TEST_DATA_DIR) / relative;
}

} // namespace fltest
