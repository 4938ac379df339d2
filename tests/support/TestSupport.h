// Helpers shared by every test executable.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <typeinfo>

namespace fltest {

// ../shared/testdata beside the source tree, or an empty path where it is absent.
std::filesystem::path sharedTestData();

// A file of the project's own fixtures (tests/data).
std::filesystem::path projectTestData(const std::string& relative);

// The dynamic class of what a pointer or Ref points to. typeid(*ref) would make clang warn that
// the operator call inside typeid is evaluated.
template <class Pointer> const std::type_info& dynamicType(const Pointer& pointer) {
    const auto& object = *pointer;
    return typeid(object);
}

} // namespace fltest

// Skips the current test with a message when the third-party test data is absent.
#define FL_REQUIRE_SHARED_TESTDATA()                                                                         \
    do {                                                                                                     \
        if (::fltest::sharedTestData().empty())                                                              \
            GTEST_SKIP() << "../shared/testdata is absent: third-party loader files not checked";            \
    } while (0)
