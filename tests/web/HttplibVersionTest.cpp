#include <gtest/gtest.h>

#include <httplib.h>

#include <string_view>

// The connection server leans on httplib internals; another httplib must be checked by
// hand before the pin in CMakeLists.txt moves.
TEST(HttplibVersionTest, TheHeaderIsTheVersionTheServerWasCheckedAgainst) {
  EXPECT_EQ(std::string_view(CPPHTTPLIB_VERSION), std::string_view(VORYX_HTTPLIB_VERSION))
      << "cpp-httplib " << CPPHTTPLIB_VERSION << " is not the version web/ConnectionServer was written for";
}
