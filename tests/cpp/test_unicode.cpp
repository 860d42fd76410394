#include <gtest/gtest.h>

#include "text/unicode.hpp"

using namespace quillon::unicode;

TEST(Unicode, LowerFollowsHostRules) {
  EXPECT_EQ(lower("ABC"), "abc");
  EXPECT_EQ(lower("\u0130"), "i\u0307");                                     // dotted capital I: two code points
  EXPECT_EQ(lower("\u039F\u0394\u039F\u03A3"), "\u03BF\u03B4\u03BF\u03C2");  // final sigma
  EXPECT_EQ(lower("\u03A3\u0391"), "\u03C3\u03B1");                          // sigma not at a word end
  EXPECT_EQ(lower("\u03A3"), "\u03C3");                                      // alone: not final
}

TEST(Unicode, StripUsesHostWhiteSpace) {
  EXPECT_EQ(strip("\x1c\u3000 a b\u2029\x85"), "a b");
  EXPECT_EQ(strip("\u200b a"), "\u200b a");  // zero-width space is not white space
  EXPECT_EQ(rstrip("a \t"), "a");
}

TEST(Unicode, RepairReplacesMaximalSubparts) {
  EXPECT_EQ(repair_utf8("a\xe2\x82"
                        "b"),
            "a\uFFFD"
            "b");
  EXPECT_EQ(repair_utf8("\xed\xa0\x80"), "\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(repair_utf8("\xf0\x9f\x98\x80"), "\U0001F600");
  EXPECT_EQ(first_invalid_utf8("ok\xff"), 2u);
  EXPECT_EQ(first_invalid_utf8("ok"), std::string_view::npos);
}

TEST(Unicode, SurrogateEscapesRoundTripArbitraryBytes) {
  std::string bytes = "ok \xff\xe2\x82 \xc3\xa9";
  std::string text = escape_invalid_utf8(bytes);
  EXPECT_EQ(text, "ok \xed\xb3\xbf\xed\xb3\xa2\xed\xb2\x82 \xc3\xa9");  // U+DCFF U+DCE2 U+DC82, then é
  EXPECT_EQ(unescape_surrogates(text), bytes);
  EXPECT_EQ(unescape_surrogates("plain"), "plain");
}

TEST(Unicode, TruncatedSequencesStayInsideTheText) {
  // Found by fuzzing: a lead byte at the very end used to step past the end.
  EXPECT_EQ(strip(" a\xf0"), "a\xf0");
  EXPECT_EQ(strip("\xe2"), "\xe2");
  EXPECT_EQ(length("\xf0"), 1u);
  std::size_t pos = 0;
  next("\xf0\x9f", pos);
  EXPECT_EQ(pos, 2u);
}
