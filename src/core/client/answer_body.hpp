// An answer's body as it arrives. Memory follows the bytes that came, not
// the length the server announced: an announcement is believed only so far
// ahead of the data, so a server that announces a gigabyte and sends a few
// bytes costs a few MiB. The body keeps the decoder's padding to spare, so
// that it is decoded in place.
//
// A body that is to be decoded is decoded as it arrives (json::StreamDecoder),
// which needs bytes that never move: the announced length is reserved as
// address space at the first byte (base/reserved_buffer.hpp) and filled in
// place, memory still taken page by page as the bytes come. Without an
// announcement, or when more comes than was announced (the bytes must then
// move), it is decoded at its end instead.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/reserved_buffer.hpp"
#include "json/json_decode.hpp"
#include "json/json_keep_plan.hpp"

namespace quillon {

class AnswerBody {
 public:
  // `limit`: the most bytes accepted (--max-filesize); none: no limit.
  explicit AnswerBody(std::optional<long long> limit = {}) : limit_(limit) {}
  // A body decoded as JSON as it arrives, building what `plan` reads (the
  // plan must outlive the body); `check_interrupt` is called while it is
  // decoded, and what it throws ends the decoding.
  AnswerBody(std::optional<long long> limit, const json::KeepPlan& plan, std::function<void()> check_interrupt);
  AnswerBody(AnswerBody&&) noexcept;
  AnswerBody& operator=(AnswerBody&&) noexcept;
  ~AnswerBody();

  // Appends `data`; `announced` is the answer's announced length, or -1.
  // False, with nothing added, when the body would pass the limit.
  // std::bad_alloc when memory runs out.
  bool append(std::string_view data, long long announced);

  std::size_t size() const;
  std::size_t capacity() const;
  // Whether the bytes stay put as they come, so that they are decoded as
  // they do.
  bool decoding_as_it_arrives() const { return stream_ != nullptr; }
  // The body; this one is left empty.
  std::string take();
  // A body that is decoded: the answer's document (the rest decoded now),
  // or JsonDecodeError as json::decode_buffer() gives it.
  json::Document decode();

  // How far ahead of the data an announced length is believed: at least
  // this many bytes, else eight times what came.
  static constexpr std::size_t believed_ahead = std::size_t{4} << 20;

 private:
  void reserve(long long announced);
  void move_to_string();
  void grow(std::size_t needed, long long announced);

  std::string body_;
  std::optional<long long> limit_;
  const json::KeepPlan* plan_ = nullptr;
  std::function<void()> check_interrupt_;
  bool reservation_tried_ = false;
  std::shared_ptr<ReservedBuffer> reserved_;  // shared with the document that points into it
  std::unique_ptr<json::StreamDecoder> stream_;
};

}  // namespace quillon
