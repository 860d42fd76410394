// An answer's body as it arrives. Memory follows the bytes that came, not
// the length the server announced: an announcement is believed only so far
// ahead of the data, so a server that announces a gigabyte and sends a few
// bytes costs a few MiB. The body keeps the decoder's padding to spare, so
// that it is decoded in place.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

class AnswerBody {
 public:
  // `limit`: the most bytes accepted (--max-filesize); none: no limit.
  explicit AnswerBody(std::optional<long long> limit = {}) : limit_(limit) {}

  // Appends `data`; `announced` is the answer's announced length, or -1.
  // False, with nothing added, when the body would pass the limit.
  // std::bad_alloc when memory runs out.
  bool append(std::string_view data, long long announced);

  std::size_t size() const { return body_.size(); }
  std::size_t capacity() const { return body_.capacity(); }
  // The body; this one is left empty.
  std::string take();

  // How far ahead of the data an announced length is believed: at least
  // this many bytes, else eight times what came.
  static constexpr std::size_t believed_ahead = std::size_t{4} << 20;

 private:
  void grow(std::size_t needed, long long announced);

  std::string body_;
  std::optional<long long> limit_;
};

}  // namespace quillon
