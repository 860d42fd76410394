// The printer output's one out-of-line piece: texts too long to hold in the
// buffer whole go out in slices.
#include "print/repr_output.hpp"

namespace quillon::print {

void ReprOutput::put_text_streamed(std::string_view s) {
  if (s.size() <= 64 * 1024) {
    put_text(s);
    return;
  }
  const char quote = repr::quote_for(s);
  put(quote);
  put_sliced(s, repr::max_text_bytes,
             [quote](char* out, std::string_view slice) { return repr::write_text_body(out, slice, quote); });
  put(quote);
}

}  // namespace quillon::print
