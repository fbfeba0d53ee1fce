#include <gtest/gtest.h>

#include "cli/Result.h"

namespace {

TEST(JsonString, EscapesWhatJsonForbidsAndReplacesEveryByteThatIsNoUtf8) {
    EXPECT_EQ(JsonString("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(JsonString(std::string("\n\t\r\b\f\x01\x1F\x7F", 8)), "\"\\n\\t\\r\\b\\f\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(JsonString(std::string("x\0y", 3)), "\"x\\u0000y\"");
    // Well-formed sequences of two, three and four bytes pass unchanged.
    EXPECT_EQ(JsonString("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xB7"), "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xB7\"");
    const std::string fffd = "\xEF\xBF\xBD";
    // Latin-1, an overlong "/", a surrogate, beyond U+10FFFF, a lone
    // continuation byte, and a sequence cut short by the end.
    EXPECT_EQ(JsonString("\xE9t\xE9"), "\"" + fffd + "t" + fffd + "\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"" + fffd + fffd + "\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"" + fffd + fffd + fffd + "\"");
    EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"" + fffd + fffd + fffd + fffd + "\"");
    EXPECT_EQ(JsonString("a\x80"), "\"a" + fffd + "\"");
    EXPECT_EQ(JsonString("a\xE2\x82"), "\"a" + fffd + fffd + "\"");
    for (const char* bytes : {"\xE9", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"})
        EXPECT_FALSE(IsUtf8(bytes)) << bytes;
    EXPECT_TRUE(IsUtf8("plain \xC3\xA9\xF4\x8F\xBF\xBF"));
}

TEST(ExportRecord, TabAndJsonLinesSayTheSameOfAWrittenFile) {
    ExportRecord r;
    r.source = "in/p.jpg";
    r.ok = true;
    r.output = "out/p_Envelope10.jpg";
    r.pixels = CSize(2400, 1042);
    r.widthCm = 24.13f;
    r.heightCm = 10.4775f;
    r.dpi = DotsPerInch(r.pixels, r.widthCm, r.heightCm);
    EXPECT_EQ(r.dpi, 253);  // both sides give 252.6
    EXPECT_EQ(WarnOfLowResolution(r, "Envelope #10", 254), "low resolution for Envelope #10: 253 dpi, below 254 dpi");
    EXPECT_EQ(WarnOfLowResolution(r, "Envelope #10", 253), "");
    r.lossless = LosslessShift{5, 12, false};
    EXPECT_EQ(TabLine(r), "out/p_Envelope10.jpg\t2400x1042 px\t24.1x10.5 cm\t253 dpi\tlossless, moved 5 px left and 12 px up");
    EXPECT_EQ(JsonLine(r),
              "{\"source\":\"in/p.jpg\",\"ok\":true,\"output\":\"out/p_Envelope10.jpg\",\"width_px\":2400,"
              "\"height_px\":1042,\"width_cm\":24.13,\"height_cm\":10.4775,\"dpi\":253,"
              "\"warnings\":[\"low resolution for Envelope #10: 253 dpi, below 254 dpi\"],"
              "\"lossless\":{\"left\":5,\"up\":12,\"clipped\":false}}");
    EXPECT_EQ(MovedInwardText(*r.lossless), "");
    // A turned cut that went inward past blocks its turn cannot move.
    r.lossless = LosslessShift{-9, 4, false};
    EXPECT_NE(TabLine(r).find("\tlossless, moved 9 px right and 4 px up"), std::string::npos);
    EXPECT_NE(JsonLine(r).find("\"lossless\":{\"left\":-9,\"up\":4,"), std::string::npos);
    EXPECT_EQ(MovedInwardText(*r.lossless).rfind("the lossless cut was moved 9 px right, past", 0), 0u);
    EXPECT_EQ(MovedInwardText(LosslessShift{-1, -2, false}).rfind("the lossless cut was moved 1 px right and 2 px down", 0), 0u);
}

}  // namespace
