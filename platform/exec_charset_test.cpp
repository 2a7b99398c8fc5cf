#include <gtest/gtest.h>
TEST(Build, ExecCharsetIsShiftJis) {
    const char* s = "掲";
    EXPECT_EQ(static_cast<unsigned char>(s[0]), 0x8C);
    EXPECT_EQ(static_cast<unsigned char>(s[1]), 0x66);
}
