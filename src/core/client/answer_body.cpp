#include "client/answer_body.hpp"

#include <sys/resource.h>

#include <algorithm>

namespace quillon {
namespace {

// The most address space an announcement may reserve: where address space
// is limited (ulimit -v), a small part of it, so that a server announcing
// much leaves the rest for the answer's tree; else more than any honest
// answer needs.
std::size_t most_reserved() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    return static_cast<std::size_t>(limit.rlim_cur / 4);
  return std::size_t{1} << 40;
}

}  // namespace

AnswerBody::AnswerBody(std::optional<long long> limit, const json::KeepPlan& plan,
                       std::function<void()> check_interrupt)
    : limit_(limit), plan_(&plan), check_interrupt_(std::move(check_interrupt)) {}

AnswerBody::AnswerBody(AnswerBody&&) noexcept = default;
AnswerBody& AnswerBody::operator=(AnswerBody&&) noexcept = default;
AnswerBody::~AnswerBody() = default;

std::size_t AnswerBody::size() const { return reserved_ ? reserved_->size() : body_.size(); }

std::size_t AnswerBody::capacity() const { return reserved_ ? reserved_->capacity() : body_.capacity(); }

bool AnswerBody::append(std::string_view data, long long announced) {
  if (limit_ && static_cast<long long>(size() + data.size()) > *limit_) return false;
  if (plan_ != nullptr && !reservation_tried_) reserve(announced);
  if (reserved_) {
    if (data.size() + json::padding_bytes <= reserved_->capacity() - reserved_->size()) {
      reserved_->append(data);
      stream_->grew(reserved_->text());
      return true;
    }
    move_to_string();
  }
  const std::size_t needed = body_.size() + data.size() + json::padding_bytes;
  if (needed > body_.capacity()) grow(needed, announced);
  body_.append(data);
  return true;
}

// At the first bytes of a body to decode: room for what is announced, and
// no more than the limit lets come.
void AnswerBody::reserve(long long announced) {
  reservation_tried_ = true;
  if (announced <= 0) return;
  std::size_t length = static_cast<std::size_t>(announced);
  if (limit_) length = std::min(length, static_cast<std::size_t>(*limit_));
  if (length > most_reserved()) return;
  auto room = ReservedBuffer::reserve(length + json::padding_bytes);
  if (!room) return;
  reserved_ = std::make_shared<ReservedBuffer>(std::move(*room));
  stream_ = std::make_unique<json::StreamDecoder>(*plan_, check_interrupt_);
}

// More came than was announced: the bytes move to a string that grows, and
// the answer is decoded at its end.
void AnswerBody::move_to_string() {
  std::string moved;
  moved.reserve(2 * (reserved_->size() + json::padding_bytes));
  moved.assign(reserved_->text());
  body_.swap(moved);
  stream_.reset();
  reserved_.reset();
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

std::string AnswerBody::take() {
  if (reserved_) move_to_string();
  return std::move(body_);
}

json::Document AnswerBody::decode() {
  const json::KeepPlan& plan = plan_ != nullptr ? *plan_ : json::KeepPlan::everything();
  if (!reserved_) return json::decode_buffer(body_, check_interrupt_, plan);
  const std::string_view text = reserved_->text();
  const std::size_t bytes = reserved_->capacity();
  std::unique_ptr<json::StreamDecoder> stream = std::move(stream_);
  // The padding after the text was never written: it reads as zero.
  return stream->finish(text, std::move(reserved_), bytes);
}

}  // namespace quillon
