#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <tuple>

#include "base/errors.hpp"
#include "json/json_decode.hpp"
#include "json_rendering.hpp"

using namespace quillon;
using namespace quillon::json;
using quillon::json::test_support::render;
using quillon::json::test_support::rendered;

namespace {

bool rejected(std::string_view body) {
  bool direct = false, in_place = false;
  try {
    decode(body);
  } catch (const JsonDecodeError&) {
    direct = true;
  }
  std::string buffer(body);
  try {
    decode_buffer(buffer);
  } catch (const JsonDecodeError&) {
    in_place = true;
  }
  EXPECT_EQ(direct, in_place) << body;
  return direct;
}

struct Case {
  std::string body;
  std::string expected;
};

class Accepted : public testing::TestWithParam<Case> {};

TEST_P(Accepted, DecodesAsTheHost) { EXPECT_EQ(rendered(GetParam().body), GetParam().expected) << GetParam().body; }

INSTANTIATE_TEST_SUITE_P(
    JsonDecode, Accepted,
    testing::Values(
        // Host extensions, in containers (fast path refusals) and at the root (own reading).
        Case{"[NaN,Infinity,-Infinity]", "[nan,inf,-inf]"}, Case{" NaN ", "nan"}, Case{"-Infinity", "-inf"},
        Case{"{\"a\":NaN,\"b\":[Infinity]}", "{\"a\":nan,\"b\":[inf]}"},
        Case{"[1e400,-1e400,1e-400,-1e-400]", "[inf,-inf,real(0),real(-0)]"}, Case{"1e400", "inf"},
        Case{"[1.7976931348623159e308, 2.4703282292062328e-324]", "[inf,real(4.9406564584124654e-324)]"},
        // Integers: exact at any size; -0 is the integer 0, -0.0 a real.
        Case{"[-0,-0.0,0]", "[0,real(-0),0]"}, Case{"-0", "0"},
        Case{"[9223372036854775807,-9223372036854775808]", "[9223372036854775807,-9223372036854775808]"},
        Case{"[9223372036854775808,18446744073709551615,-9223372036854775809]",
             "[big(9223372036854775808),big(18446744073709551615),big(-9223372036854775809)]"},
        Case{"[123456789012345678901234567890123]", "[big(123456789012345678901234567890123)]"},
        Case{"-123456789012345678901234567890123", "big(-123456789012345678901234567890123)"},
        Case{"[1E2,1e+2,1.5e-1]", "[real(100),real(100),real(0.14999999999999999)]"},
        // Lone surrogates stay, as WTF-8; pairs combine; keys too.
        Case{"[\"\\ud800\",\"\\udc00\",\"\\ud800\\udc00\",\"\\ud800\\u0041\",\"\\udbff\\ud800x\"]",
             "[\"\\xed\\xa0\\x80\",\"\\xed\\xb0\\x80\",\"\\xf0\\x90\\x80\\x80\",\"\\xed\\xa0\\x80A\","
             "\"\\xed\\xaf\\xbf\\xed\\xa0\\x80x\"]"},
        Case{"{\"\\udfff\":1}", "{\"\\xed\\xbf\\xbf\":1}"}, Case{"\"\\ud83d\"", "\"\\xed\\xa0\\xbd\""},
        Case{"[\"a\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0000\"]", "[\"a\\x22\\x5c/\\x08\\x0c\\x0a\\x0d\\x09\\x00\"]"},
        // Repeated keys: first position, last value.
        Case{"{\"a\":1,\"b\":2,\"a\":[3]}", "{\"a\":[3],\"b\":2}"},
        Case{"{\"a\":{\"x\":1},\"a\":{\"y\":2}}", "{\"a\":{\"y\":2}}"},
        // ... also when a nested or earlier object used the same key in between,
        // and when one spelling is escaped.
        Case{"{\"a\":1,\"n\":{\"a\":2,\"a\":3},\"a\":4}", "{\"a\":4,\"n\":{\"a\":3}}"},
        Case{"[{\"a\":1},{\"b\":2,\"a\":3,\"b\":4}]", "[{\"a\":1},{\"b\":4,\"a\":3}]"},
        Case{"{\"a\":1,\"\\u0061\":2,\"b\":{\"\\u0061\":3},\"a\":5}", "{\"a\":5,\"b\":{\"a\":3}}"},
        // Keys alike at both ends but not in the middle are distinct, at every length.
        Case{"{\"abc\":1,\"aXc\":2,\"abc\":3}", "{\"abc\":3,\"aXc\":2}"},
        Case{"{\"abcdefgh_1_ijklmnop\":1,\"abcdefgh_2_ijklmnop\":2}",
             "{\"abcdefgh_1_ijklmnop\":1,\"abcdefgh_2_ijklmnop\":2}"},
        // Byte-order mark, white space, invalid UTF-8.
        Case{"\xEF\xBB\xBF[1]", "[1]"}, Case{"\xEF\xBB\xBF\"x\"", "\"x\""}, Case{" \t\r\n{} \n", "{}"},
        Case{"[\"\xff\", \"a\xe2\x82\"]", "[\"\\xef\\xbf\\xbd\",\"a\\xef\\xbf\\xbd\"]"},
        Case{"[\"\xed\xa0\x80\"]", "[\"\\xef\\xbf\\xbd\\xef\\xbf\\xbd\\xef\\xbf\\xbd\"]"},
        Case{"[[],{},[[]],\"\"]", "[[],{},[[]],\"\"]"}, Case{"\"\\u00e9\x7f\"", "\"\\xc3\\xa9\\x7f\""}));

class Rejected : public testing::TestWithParam<std::string> {};

TEST_P(Rejected, AsTheHostDoes) { EXPECT_TRUE(rejected(GetParam())) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(JsonDecode, Rejected,
                         testing::Values(
                             // Nothing there.
                             "", " \n", "\xEF\xBB\xBF", "\xEF\xBB\xBF\xEF\xBB\xBF[1]",
                             // Junk after the document.
                             "[1] x", "[1]]", "1 2", "{} {}", "\"a\" x", std::string("[1]\x00", 4), "NaNx", "truex",
                             "[1],",
                             // Number grammar, in containers and alone.
                             "[01]", "[1.]", "[.5]", "[-]", "[+1]", "[1e]", "[1e+]", "[0x10]", "[1.e5]", "[--1]", "01",
                             "1.", "-", "+1", "[nan]", "[inf]", "[-NaN]", "[infinity]", "[Infinity1]", "[NaN1]",
                             "[-Infinityx]", "[tru]", "[nul]", "[truex]",
                             // Raw control characters and bad escapes.
                             "[\"a\x01\"]", "\"a\x1f\"", "{\"a\nb\":1}", "\"a\tb\"", "[\"\\x\"]", "[\"\\u12\"]",
                             "[\"\\u12g4\"]", "\"\\ud800\\u12\"", "\"\\'\"",
                             // Structure.
                             "[1,]", "{\"a\":1,}", "{\"a\" 1}", "[1 2]", "{1:2}", "{\"a\"}", "[", "{", "[\"a]", "\"abc",
                             "[1}", "{\"a\":1]", "]", "[,1]", "{,}", "[1,,2]"));

TEST(JsonDecode, DepthLimitIsClearAndSafe) {
  // `depth` containers in all, the innermost empty.
  auto nested = [](std::size_t depth, std::string_view open, std::string_view close, std::string_view inner) {
    std::string s;
    for (std::size_t i = 1; i < depth; ++i) s += open;
    s += inner;
    for (std::size_t i = 1; i < depth; ++i) s += close;
    return s;
  };
  Document ok = decode(nested(max_depth, "[", "]", "[]"));
  std::size_t depth = 1;
  for (Value v = ok.root; v.size() == 1; v = v.items()[0]) ++depth;
  EXPECT_EQ(depth, max_depth);
  EXPECT_TRUE(decode(nested(max_depth, "{\"k\":", "}", "{}")).root.is_object());
  for (std::size_t deep : {max_depth + 1, std::size_t{1000000}}) {
    for (auto [open, close, inner] : {std::tuple{"[", "]", "[]"}, std::tuple{"{\"a\":[", "]}", "{}"}}) {
      try {
        decode(nested(deep, open, close, inner));
        ADD_FAILURE() << "accepted depth " << deep;
      } catch (const JsonDecodeError& e) {
        EXPECT_NE(e.reason().find("deeper"), std::string::npos) << e.what();
      }
    }
  }
}

// 33-byte keys that share their first and last eight bytes, as an answer
// could choose them to collide in a hash of a key's ends; and as many keys of
// that length that differ at both ends.
std::string padded(int i, std::size_t digits) {
  const std::string s = std::to_string(i);
  return std::string(digits - s.size(), '0') + s;
}
std::string alike_key(int i) { return "prefix__" + padded(i, 17) + "__suffix"; }
std::string distinct_key(int i) { return padded(i, 8) + "_kkkkkkkkkkkkkkk_" + padded(i, 8); }

TEST(JsonDecode, LargeObjectsKeepFirstPositionAndLastValue) {
  // Enough keys for the hashed lookup, with repeats spread across it.
  for (auto key : {+[](int k) { return "k" + std::to_string(k); }, +alike_key}) {
    std::string body = "{";
    for (int round = 0; round < 3; ++round)
      for (int k = 0; k < 300; ++k) body += "\"" + key(k) + "\":" + std::to_string(round * 1000 + k) + ",";
    body += "\"last\":true}";
    Document doc = decode(body);
    ASSERT_EQ(doc.root.size(), 301u);
    for (int k = 0; k < 300; ++k) {
      const Member& m = doc.root.members()[k];
      EXPECT_EQ(m.key(), key(k));
      EXPECT_EQ(m.value.as_integer(), 2000 + k);
    }
    EXPECT_EQ(doc.root.members()[300].key(), "last");
  }
}

// Keys alike at both ends cost about what distinct keys cost, timed against
// each other in one run in the CPU time of this thread, which other work on
// the machine leaves alone (a hash of the keys' ends made the first
// quadratic: 100,000 of them took minutes).
TEST(JsonDecode, KeysAlikeAtBothEndsCostWhatDistinctKeysCost) {
  constexpr int count = 100000;
  auto object = [](std::string (*key)(int)) {
    std::string body = "{";
    for (int i = 0; i < count; ++i) body += (i == 0 ? "\"" : ",\"") + key(i) + "\":" + std::to_string(i);
    return body + "}";
  };
  const std::string alike = object(alike_key), distinct = object(distinct_key);
  auto cpu_seconds = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  auto seconds = [&](const std::string& body) {
    const double start = cpu_seconds();
    Document doc = decode(body);
    EXPECT_EQ(doc.root.size(), std::size_t{count});
    return cpu_seconds() - start;
  };
  // The fastest of a few runs of each, interleaved. A quadratic decode
  // shows at once.
  double best_alike = 1e9, best_distinct = 1e9;
  for (int round = 0; round < 3 && best_alike < 20 * best_distinct + 1; ++round) {
    best_distinct = std::min(best_distinct, seconds(distinct));
    best_alike = std::min(best_alike, seconds(alike));
  }
  EXPECT_LT(best_alike, 3 * best_distinct + 0.05) << best_alike << " s against " << best_distinct << " s";
}

// Keys longer than the decoder's padding, plain and escaped, repeated, and
// last in the answer so that they end right at its end.
TEST(JsonDecode, LongKeysOfEveryLengthAroundThePadding) {
  for (std::size_t length = 56; length <= 2 * padding_bytes + 8; ++length) {
    const std::string key(length, 'k');
    const std::string escaped = "\\u006b" + key.substr(1);  // the same key, its first letter escaped
    const std::string other = key.substr(1) + "\xC3\xA9";
    const std::string other_rendered = key.substr(1) + "\\xc3\\xa9";
    const std::string body = "{\"" + key + "\":1,\"" + other + "\":2,\"" + escaped + "\":3}";
    EXPECT_EQ(rendered(body), "{\"" + key + "\":3,\"" + other_rendered + "\":2}") << length;
    EXPECT_EQ(rendered("[{\"" + other + "\":[]},{\"" + key + "\":{}}]"),
              "[{\"" + other_rendered + "\":[]},{\"" + key + "\":{}}]")
        << length;
  }
}

TEST(JsonDecode, ValuesOutliveTheCallersBuffer) {
  // Plain texts, keys and big integers point into the decoded body itself:
  // the document must keep it, whatever the caller does with its buffer.
  const std::string body = R"({"plain": "text", "esc\u0061ped": "a\nb", "big": -123456789012345678901234})";
  const std::string expected = rendered(body);
  Document from_view;
  {
    std::string temporary(body);
    from_view = decode(temporary);
    temporary.assign(body.size(), 'x');
  }
  std::string buffer(body);
  buffer.reserve(body.size() + padding_bytes);
  Document in_place = decode_buffer(buffer);
  buffer.assign(body.size(), 'y');
  for (const Document* doc : {&from_view, &in_place}) {
    std::string out;
    render(doc->root, out);
    EXPECT_EQ(out, expected);
  }
}

TEST(JsonDecode, TextsEndAtTheirQuoteWhereverEscapesSit) {
  // Texts are scanned a word at a time: put the closing quote and an
  // escape at every offset within and across words, as values and as keys.
  for (std::size_t length = 0; length < 20; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      std::string plain(length, 'a'), escaped = plain;
      escaped.insert(at, "\\\"");  // an escaped quote: \"
      std::string expected_escaped = plain;
      expected_escaped.insert(at, "\"");
      Document doc = decode("{\"" + plain + "\": [\"" + plain + "\", \"" + escaped + "\"], \"" + escaped + "\": 1}");
      ASSERT_EQ(doc.root.size(), 2u);
      EXPECT_EQ(doc.root.members()[0].key(), plain);
      EXPECT_EQ(doc.root.members()[1].key(), expected_escaped);
      auto items = doc.root.members()[0].value.items();
      EXPECT_EQ(items[0].as_chars(), plain);
      EXPECT_EQ(items[1].as_chars(), expected_escaped) << "length " << length << " at " << at;
    }
  }
}

// Positions as the host gives them: in characters of the text after the
// byte-order mark, with the line and column it counts.
TEST(JsonDecode, ErrorsCarryTheHostsPosition) {
  struct Case {
    std::string body, message;
    std::size_t position;
  };
  const std::vector<Case> cases = {
      {"\xEF\xBB\xBF[1, 2, x]", "Expecting value: line 1 column 8 (char 7)", 7},
      {"[\"\xC3\xA9\",\n \"\xF0\x9F\x98\x80\" x]", "Expecting ',' delimiter: line 2 column 6 (char 11)", 11},
      {"{\"a\": 1}\n\n  ]", "Extra data: line 3 column 3 (char 12)", 12},
  };
  for (const Case& c : cases) {
    try {
      decode(c.body);
      ADD_FAILURE() << c.body;
    } catch (const JsonDecodeError& e) {
      EXPECT_EQ(e.what(), c.message);
      EXPECT_EQ(e.position(), c.position);
      ASSERT_TRUE(e.document());
      EXPECT_EQ(*e.document(), c.body.substr(c.body.starts_with("\xEF\xBB\xBF") ? 3 : 0));
    }
  }
}

}  // namespace
