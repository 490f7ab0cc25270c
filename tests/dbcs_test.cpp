// Texts cut to a buffer: a cut falls between two characters of code page
// 936, never between the two bytes of one.
#include "app/dbcs.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

// 0xB3 0xA4 is one double-byte character; 0x81 0x7C one whose second byte is '|'.
std::string Copy(const std::string& text, int size, int length = 0x7FFFFFFF) {
    char buffer[64];
    memset(buffer, 'Z', sizeof buffer);
    int copied = CopyText(buffer, size, text.c_str(), length);
    std::string result(buffer, strnlen(buffer, sizeof buffer));
    EXPECT_EQ(copied, static_cast<int>(result.size())) << text;
    return result;
}

TEST(CopyTextTest, CutsBeforeADoubleByteCharacterThatDoesNotFit) {
    ASSERT_TRUE(IsDBCSLeadByte(0xB3));
    const std::string text = "ab\xB3\xA4"
                             "c";
    EXPECT_EQ(Copy(text, 3), "ab");
    EXPECT_EQ(Copy(text, 4), "ab");
    EXPECT_EQ(Copy(text, 5), "ab\xB3\xA4");
    EXPECT_EQ(Copy(text, 6), text);
    EXPECT_EQ(Copy(text, 60), text);
    EXPECT_EQ(Copy("\x81|x", 2), "");
    EXPECT_EQ(Copy("\x81|x", 3), "\x81|");
    EXPECT_EQ(Copy(text, 1), "");
}

TEST(CopyTextTest, CopiesAtMostTheGivenLengthAndStopsAtAZero) {
    // A value without a terminator, followed by what lies after it.
    EXPECT_EQ(Copy("DescGARBAGE", 60, 4), "Desc");
    EXPECT_EQ(Copy(std::string("Pr\0od", 5), 60, 5), "Pr");
    EXPECT_EQ(Copy("ab\xB3\xA4", 60, 3), "ab");
    EXPECT_EQ(Copy("abc", 60, 0), "");
}

TEST(CopyTextTest, DropsALeadByteWithoutItsSecondByte) {
    EXPECT_EQ(Copy("ab\xB3", 60), "ab");
    EXPECT_EQ(Copy("\xB3", 60), "");
}

TEST(CopyTextTest, CutsInPlaceAndLeavesTooSmallBuffersAlone) {
    char text[] = "xy\xB3\xA4\xB3\xA4";
    EXPECT_EQ(CopyText(text, 6, text), 4);
    EXPECT_EQ(std::string(text, 7), std::string("xy\xB3\xA4\0\xA4\0", 7));
    char untouched[2] = {'Z', 'Z'};
    EXPECT_EQ(CopyText(untouched, 0, "abc"), 0);
    EXPECT_EQ(untouched[0], 'Z');
    EXPECT_EQ(CopyText(untouched, 2, nullptr), 0);
    EXPECT_EQ(untouched[0], 0);
}

} // namespace
