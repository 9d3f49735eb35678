#include <gtest/gtest.h>
#include "common/text.h"
TEST(Text, CopyFieldCuts) { char f[4]; EXPECT_FALSE(kx::copyField(f, "abcdef")); EXPECT_STREQ(f, "abc"); }
