#include <gtest/gtest.h>
#include "device/Codec.h"
namespace fr { TEST(Codec, Builds) { EXPECT_EQ(IntToLEBytes(2, 1021), TBytes({0xFD, 0x03})); } }
