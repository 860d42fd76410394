#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text/byte_scan.hpp"
#include "text/code_point_set.hpp"
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

TEST(Unicode, CodePointSetsAgreeWithTheTables) {
  // Every code point, so that the plane's last word and the step past it are covered.
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    ASSERT_EQ(space_set().contains(cp), is_space(cp)) << std::hex << static_cast<std::uint32_t>(cp);
    ASSERT_EQ(printable_set().contains(cp), is_printable(cp)) << std::hex << static_cast<std::uint32_t>(cp);
  }
}

TEST(ByteScan, FirstFlagIsTheFirstMatchingByte) {
  namespace bs = quillon::byte_scan;
  std::mt19937_64 rng(12);
  // Bytes around the class edges, where a borrow could flag a wrong byte.
  const unsigned char edges[] = {0x00, 0x01, 0x1F, 0x20, 0x21, 0x22, 0x5C, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
  for (int round = 0; round < 20000; ++round) {
    char word[8];
    for (char& c : word) c = static_cast<char>(edges[rng() % sizeof edges]);
    std::uint64_t x = bs::load(word);
    auto first_where = [&](auto pred) {
      for (std::size_t i = 0; i < 8; ++i)
        if (pred(static_cast<unsigned char>(word[i]))) return i;
      return std::size_t{8};
    };
    auto scanned = [](std::uint64_t flags) { return flags ? bs::first(flags) : std::size_t{8}; };
    ASSERT_EQ(scanned(bs::bytes_equal(x, '"')), first_where([](unsigned char c) { return c == '"'; }));
    ASSERT_EQ(scanned(bs::bytes_below(x, 0x20)), first_where([](unsigned char c) { return c < 0x20; }));
    std::size_t continuations = 0;
    for (char c : word) continuations += (static_cast<unsigned char>(c) & 0xC0) == 0x80;
    ASSERT_EQ(bs::count(bs::continuation_bytes(x)), continuations);
  }
  // Code points counted across word boundaries and tails.
  std::string text;
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(length(text), static_cast<std::size_t>(i));
    text += i % 3 == 0 ? "\xc3\xa9" : i % 3 == 1 ? "a" : "\xf0\x9f\x98\x80";
  }
}

TEST(Unicode, EscapeControlsLeavesNoTerminalSequence) {
  // An OSC title sequence and a colour change from a hostile header.
  EXPECT_EQ(escape_controls("http://x/\x1b]0;owned\x07\x1b[31mred"), "http://x/\\x1b]0;owned\\x07\\x1b[31mred");
  EXPECT_EQ(escape_controls("a\nb\rc\td\x7f"), "a\\nb\\rc\\td\\x7f");
  EXPECT_EQ(escape_controls("\xc2\x9b"
                            "2J"),
            "\\x9b2J");                                                                      // C1 CSI, as U+009B
  EXPECT_EQ(escape_controls("caf\xc3\xa9 \\ \xe2\x80\xa8"), "caf\xc3\xa9 \\ \xe2\x80\xa8");  // text, not controls
  EXPECT_EQ(escape_controls("\xff\x1b"), "\\xff\\x1b");                                      // bytes that are not UTF-8
  EXPECT_EQ(escape_controls(escape_invalid_utf8("n\xff")), "n\\xff");                        // a surrogate-escaped byte
  EXPECT_EQ(escape_controls("\xed\xa0\x80"), "\\ud800");                                     // a lone surrogate
}
