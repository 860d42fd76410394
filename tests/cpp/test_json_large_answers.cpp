// Answers of many chunks: decoded whole and as they arrive, in order, with a
// fault near the end found where it is, and a stop honoured as it goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "base/errors.hpp"
#include "json/json_decode.hpp"
#include "json_rendering.hpp"

using namespace quillon;
using namespace quillon::json;
using quillon::json::test_support::render;
using quillon::json::test_support::rendered;

namespace {

// The elements of a large answer's array, of every kind.
std::string element(int i) {
  switch (i % 6) {
    case 0:
      return "{\"name\": \"gw-" + std::to_string(i) + "\", \"id\": 123456789012345678901234, \"up\": true}";
    case 1:
      return "{\"a\": 1, \"b\": [\"x\\n\", {}], \"a\": [" + std::to_string(i) + "]}";  // repeated key
    case 2:
      return "[NaN, -Infinity, 1.5e3, [], {\"\\ud800\": null}]";
    case 3:
      return std::to_string(i);
    case 4:
      return "{\"deep\": [[[{\"k\": [false]}]]]}";
    default:
      return "\"text " + std::to_string(i) + "\"";
  }
}

// `count` elements, the one at `broken` (if any) replaced by `damage`;
// sets `damage_at` to where the damage starts.
std::string big_answer(int count, int broken = -1, std::string_view damage = "", std::size_t* damage_at = nullptr) {
  std::string body = "{\"return\": true, \"results\": [";
  for (int i = 0; i < count; ++i) {
    if (i) body += ", ";
    if (i == broken) {
      if (damage_at) *damage_at = body.size();
      body += damage;
    } else {
      body += element(i);
    }
  }
  return body + "]}";
}

std::size_t rejected_at(const std::string& body) {
  try {
    decode(body);
  } catch (const JsonDecodeError& e) {
    return e.position();
  }
  ADD_FAILURE() << "accepted";
  return 0;
}

// An answer of many chunks decodes as its parts, and a fault near its end is
// still found where it is.
TEST(JsonDecode, IndexGivenBackAsReadStillDecodesInOrder) {
  constexpr int count = 1000000;
  const int last = count - 3;
  std::size_t at = 0;  // where element `last` starts
  const std::string whole = big_answer(count, last, element(last), &at);
  ASSERT_GT(whole.size(), std::size_t{33} << 20);
  Document doc = decode(whole);
  const Value& results = doc.root.members()[1].value;
  ASSERT_EQ(results.size(), std::size_t{count});
  for (int i : {0, count / 2 - 1, count / 2, count / 2 + 1, count - 1}) {
    std::string out;
    render(results.items()[static_cast<std::size_t>(i)], out);
    EXPECT_EQ(out, rendered(element(i))) << i;
  }
  // Copies of the same text with that element damaged: built once, as the
  // sanitizer builds take long over a million elements.
  std::string broken = whole;
  broken.replace(at, element(last).size(), "{\"a\" 1}");
  EXPECT_EQ(rejected_at(broken), at + 5);
  std::string deep = whole;
  deep.replace(at, element(last).size(), std::string(max_depth - 1, '[') + std::string(max_depth - 1, ']'));
  try {
    decode(deep);
    ADD_FAILURE() << "accepted";
  } catch (const JsonDecodeError& e) {
    EXPECT_NE(e.reason().find("deeper"), std::string::npos) << e.what();
  }
}

// A long decode calls the caller's check every megabyte or so, and stops
// with what it throws (Ctrl-C), at the first check or any later one.
TEST(JsonDecode, ChecksForAStopAsItGoes) {
  struct Stop {};
  const std::string body = big_answer(600000);
  ASSERT_GT(body.size(), std::size_t{20} << 20);
  int calls = 0;
  std::string buffer = body;
  EXPECT_EQ(decode_buffer(buffer, [&] { ++calls; }).root.size(), 2u);
  EXPECT_GE(calls, static_cast<int>(body.size() >> 22));
  for (int stop_at : {1, calls / 2, calls}) {
    int left = stop_at;
    buffer = body;
    EXPECT_THROW(decode_buffer(buffer,
                               [&] {
                                 if (--left == 0) throw Stop{};
                               }),
                 Stop)
        << stop_at;
  }
  // As it arrives too: while the bytes come, the stop ends the decoding.
  int left = 2;
  StreamDecoder stream(KeepPlan::everything(), [&] {
    if (--left == 0) throw Stop{};
  });
  std::string arriving(body.size() + padding_bytes, '\0');
  EXPECT_THROW(
      for (std::size_t at = 0; at < body.size(); at += 16384) {
        const std::size_t n = std::min<std::size_t>(16384, body.size() - at);
        arriving.replace(at, n, body, at, n);
        stream.grew(std::string_view(arriving.data(), at + n));
      },
      Stop);
}

}  // namespace
