#include <gtest/gtest.h>
#include "store/modCommon.h"
TEST(Smoke, Cipher) { EXPECT_EQ(modCommon::fDecodeSetting(modCommon::fEncodeSetting("あ", 0xA5), 0xA5), "あ"); }
