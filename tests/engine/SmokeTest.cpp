#include "IndexEngine.h"
#include <gtest/gtest.h>
TEST(Smoke, Builds) { EXPECT_EQ(toUpper("abc"), "ABC"); }
