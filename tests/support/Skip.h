#pragma once
// The one reason a test may skip: an optional tool it drives is not installed. The suite
// (tests/support/TestMain.cpp and ctest's skip pattern) counts any other skip as a failure.
#include <gtest/gtest.h>

namespace voryx::test {

inline constexpr const char* kOptionalToolMissing = "optional tool missing: ";

}  // namespace voryx::test

#define VORYX_SKIP_WITHOUT(tool) GTEST_SKIP() << ::voryx::test::kOptionalToolMissing << (tool)
