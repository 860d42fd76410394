// An answer's body: memory that follows the bytes that came, whatever length
// was announced, and the --max-filesize limit.
#include "client/answer_body.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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
