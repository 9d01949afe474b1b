// The settings dialog's pure rules: which system commands open the about box, and where the icon
// of the minimised window is drawn.
#include "ui/PelloranDlg.h"

#include <gtest/gtest.h>

namespace {

TEST(AboutCommandTest, LowFourBitsAndBitsAboveFifteenDoNotCount) {
    for (UINT command = 0x0010; command <= 0x001F; ++command) EXPECT_TRUE(IsAboutCommand(command)) << command;
    EXPECT_TRUE(IsAboutCommand(0x00010010));
    EXPECT_TRUE(IsAboutCommand(0xFFFF001Au));
    EXPECT_FALSE(IsAboutCommand(0x0020));
    EXPECT_FALSE(IsAboutCommand(0x0000));
    EXPECT_FALSE(IsAboutCommand(0x0110));
    EXPECT_FALSE(IsAboutCommand(SC_CLOSE));
    EXPECT_FALSE(IsAboutCommand(SC_MINIMIZE));
}

TEST(MinimisedIconTest, CentredWithTruncatingDivision) {
    EXPECT_EQ(CenteredIconOrigin({0, 0, 36, 36}, 32, 32).x, 2);
    EXPECT_EQ(CenteredIconOrigin({0, 0, 36, 36}, 32, 32).y, 2);
    // (0 - 32 + 1) / 2 is -15: toward zero, not -16.
    EXPECT_EQ(CenteredIconOrigin({0, 0, 0, 0}, 32, 32).x, -15);
    EXPECT_EQ(CenteredIconOrigin({0, 0, 0, 0}, 32, 32).y, -15);
    // Width and height are taken apart, and from the rectangle's own origin.
    const POINT p = CenteredIconOrigin({10, 20, 170, 60}, 32, 16);
    EXPECT_EQ(p.x, 64);  // (160 - 32 + 1) / 2
    EXPECT_EQ(p.y, 12);  // (40 - 16 + 1) / 2
}

}  // namespace
