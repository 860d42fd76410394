// The output buffer's one out-of-line piece: texts too long to hold in the
// buffer whole go out in slices.
#include "print/output_buffer.hpp"

namespace quillon::print {

void OutputBuffer::put_text_streamed(std::string_view s) {
  constexpr std::size_t slice = 16 * 1024;
  if (s.size() <= 4 * slice) {
    put_text(s);
    return;
  }
  const char quote = repr::quote_for(s);
  put(quote);
  while (!s.empty()) {
    std::size_t n = std::min(slice, s.size());
    while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;  // whole code points
    commit(repr::write_text_body(reserve(repr::max_text_bytes(n)), s.substr(0, n), quote));
    s.remove_prefix(n);
    maybe_flush();
  }
  put(quote);
}

}  // namespace quillon::print
