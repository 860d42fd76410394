// An answer's body: memory that follows the bytes that came, whatever length
// was announced, and the --max-filesize limit; a body to decode, decoded as
// it arrives where its bytes can stay put.
#include "client/answer_body.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "filter/keep_plan.hpp"
#include "json/json_decode.hpp"

using namespace quillon;

namespace {

constexpr long long gibibyte = 1LL << 30;

// Appends `total` bytes in chunks as libcurl hands them over; after each,
// the body holds at most `bound(size)` bytes of memory.
template <typename Bound>
void arrive(AnswerBody& body, std::size_t total, long long announced, Bound bound) {
  const std::string chunk(16384, 'x');
  while (body.size() < total) {
    const std::size_t n = std::min(chunk.size(), total - body.size());
    ASSERT_TRUE(body.append(std::string_view(chunk).substr(0, n), announced));
    ASSERT_GE(body.capacity(), body.size() + json::padding_bytes);
    ASSERT_LE(body.capacity(), bound(body.size())) << body.size();
  }
}

}  // namespace

TEST(AnswerBody, AnAnnouncedLengthIsBelievedOnlyAFewMiBAheadOfTheData) {
  AnswerBody body;
  ASSERT_TRUE(body.append("{\"results\": [1, 2", gibibyte));
  EXPECT_LE(body.capacity(), AnswerBody::believed_ahead + json::padding_bytes);
  // As data comes, at most eight times what came is reserved ahead.
  arrive(body, 20 << 20, gibibyte,
         [](std::size_t size) { return std::max(AnswerBody::believed_ahead, 8 * (size + json::padding_bytes)); });
}

TEST(AnswerBody, AnHonestAnnouncementIsReservedInFewSteps) {
  AnswerBody body;
  std::size_t growths = 0, last = 0;
  const std::size_t total = 40 << 20;
  const std::string chunk(16384, 'x');
  while (body.size() < total) {
    ASSERT_TRUE(body.append(chunk, static_cast<long long>(total)));
    if (body.capacity() != last) ++growths, last = body.capacity();
  }
  EXPECT_LE(growths, 3u);  // copies of the body cost less than a tenth of it
  EXPECT_EQ(body.capacity(), total + json::padding_bytes);
  const std::string taken = body.take();
  EXPECT_EQ(taken.size(), total);
  EXPECT_GE(taken.capacity(), total + json::padding_bytes);  // decoded in place
}

TEST(AnswerBody, WithoutAnAnnouncementGrowthIsGeometric) {
  AnswerBody body;
  arrive(body, 10 << 20, -1, [](std::size_t size) { return 2 * (size + 16384 + json::padding_bytes); });
}

TEST(AnswerBody, TheLimitCountsBytesAndNeverReservesBeyondIt) {
  AnswerBody body(1000);
  ASSERT_TRUE(body.append(std::string(600, 'a'), gibibyte));
  EXPECT_LE(body.capacity(), 1000 + json::padding_bytes);
  EXPECT_TRUE(body.append(std::string(400, 'b'), gibibyte));  // exactly the limit
  EXPECT_FALSE(body.append("c", gibibyte));
  EXPECT_EQ(body.size(), 1000u);  // nothing of the refused bytes is kept
  AnswerBody none(0);
  EXPECT_TRUE(none.append("", -1));
  EXPECT_FALSE(none.append("x", -1));
}

namespace {

// A records answer of about `n` records, as a body to decode.
std::string records(std::size_t n) {
  std::string text = R"({"results": [)";
  for (std::size_t i = 0; i < n; ++i)
    text += (i ? ", " : "") + std::string(R"({"a": )") + std::to_string(i) + R"(, "b": "some text, \"quoted\""})";
  return text + "]}";
}

// The body in libcurl's pieces, then the values under "a" of its records.
std::vector<std::int64_t> decoded_records(AnswerBody& body, std::string_view text, long long announced) {
  for (std::size_t at = 0; at < text.size(); at += 16384) EXPECT_TRUE(body.append(text.substr(at, 16384), announced));
  json::Document doc = body.decode();
  std::vector<std::int64_t> out;
  for (const json::Value& record : doc.root.find("results")->value.items())
    out.push_back(record.find("a") != nullptr ? record.find("a")->value.as_integer() : -1);
  EXPECT_TRUE(doc.root.find("results")->value.items()[0].find("b") == nullptr);  // never read: not built
  return out;
}

}  // namespace

TEST(AnswerBody, ABodyToDecodeIsDecodedAsItArrivesOnlyWhenItsBytesCanStayPut) {
  const std::string text = records(20000);
  const std::vector<std::string> filters = {"results", "a & x"};
  const json::KeepPlan plan = keep_plan(filters);
  std::vector<std::int64_t> expected(20000);
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<std::int64_t>(i);
  struct Case {
    long long announced;
    bool as_it_arrives;
  } cases[] = {
      {static_cast<long long>(text.size()), true},
      {static_cast<long long>(text.size()) + 1000, true},  // less than announced came
      {-1, false},                                         // nothing announced
      {static_cast<long long>(text.size() / 2), false},    // more than announced: the bytes moved
  };
  for (const Case& c : cases) {
    AnswerBody body(std::nullopt, plan, {});
    EXPECT_EQ(decoded_records(body, text, c.announced), expected) << c.announced;
    AnswerBody again(std::nullopt, plan, {});
    for (std::size_t at = 0; at < text.size(); at += 16384)
      ASSERT_TRUE(again.append(text.substr(at, 16384), c.announced));
    EXPECT_EQ(again.decoding_as_it_arrives(), c.as_it_arrives) << c.announced;
  }
}

TEST(AnswerBody, ABodyToDecodeKeepsTheLimitAndReservesNoMoreThanIt) {
  const std::vector<std::string> filters = {"results"};
  const json::KeepPlan plan = keep_plan(filters);
  AnswerBody body(1 << 20, plan, {});
  ASSERT_TRUE(body.append("[", gibibyte));
  EXPECT_TRUE(body.decoding_as_it_arrives());
  EXPECT_LE(body.capacity(), (1u << 20) + json::padding_bytes);
  EXPECT_TRUE(body.append(std::string((1 << 20) - 1, ' '), gibibyte));
  EXPECT_FALSE(body.append("]", gibibyte));
  EXPECT_EQ(body.size(), 1u << 20);
}

TEST(AnswerBody, ARefusedAnswerDecodedAsItArrivedSaysWhatTheHostSays) {
  std::string text = records(20000);
  text.insert(text.size() / 2, "}");
  std::string message;
  try {
    json::decode(text);
  } catch (const JsonDecodeError& e) {
    message = e.what();
  }
  ASSERT_FALSE(message.empty());
  const json::KeepPlan plan;
  AnswerBody body(std::nullopt, plan, {});
  for (std::size_t at = 0; at < text.size(); at += 16384)
    ASSERT_TRUE(body.append(std::string_view(text).substr(at, 16384), static_cast<long long>(text.size())));
  EXPECT_TRUE(body.decoding_as_it_arrives());
  try {
    body.decode();
    ADD_FAILURE() << "accepted";
  } catch (const JsonDecodeError& e) {
    EXPECT_EQ(e.what(), message);
  }
}
