#include "client/answer_body.hpp"

#include <algorithm>

#include "json/json_decode.hpp"

namespace quillon {

bool AnswerBody::append(std::string_view data, long long announced) {
  if (limit_ && static_cast<long long>(body_.size() + data.size()) > *limit_) return false;
  const std::size_t needed = body_.size() + data.size() + json::padding_bytes;
  if (needed > body_.capacity()) grow(needed, announced);
  body_.append(data);
  return true;
}

// Geometric growth, or straight to the announced length when that is near
// enough to what came; never to more than the limit allows.
void AnswerBody::grow(std::size_t needed, long long announced) {
  std::size_t target = std::max(needed, body_.capacity() * 2);
  if (announced > 0) {
    const std::size_t believed = std::max(believed_ahead, needed * 8);
    const std::size_t whole = static_cast<std::size_t>(announced) + json::padding_bytes;
    if (whole >= needed) target = std::min(whole, std::max(needed, believed));
  }
  if (limit_) target = std::min(target, std::max(needed, static_cast<std::size_t>(*limit_) + json::padding_bytes));
  // Exactly `target`: reserve() on a string that holds data may round it up
  // to twice its capacity.
  std::string bigger;
  bigger.reserve(target);
  bigger.append(body_);
  body_.swap(bigger);
}

std::string AnswerBody::take() { return std::move(body_); }

}  // namespace quillon
