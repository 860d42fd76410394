// Any bytes as a controller answer: decoded, then printed. Where the bytes
// are what the host decodes as they are (valid UTF-8, no byte-order mark),
// the fast decoder and the slow diagnosis of the host's scanner must agree
// on whether the document is JSON. Decoded as it arrives, in chunks of a few
// bytes, the answer must print the same or fail with the same message.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "base/errors.hpp"
#include "json/decode_error.hpp"
#include "json/json_decode.hpp"
#include "print/printer.hpp"
#include "text/unicode.hpp"

namespace {

std::string arriving(std::string_view body, std::size_t chunk, std::size_t piece) {
  try {
    auto kept = std::make_shared<std::string>(body.size() + quillon::json::padding_bytes, '\0');
    quillon::json::StreamDecoder stream(quillon::json::KeepPlan::everything(), {}, chunk);
    for (std::size_t came = 0; came < body.size();) {
      const std::size_t n = std::min(piece, body.size() - came);
      std::memcpy(kept->data() + came, body.data() + came, n);
      came += n;
      stream.grew(std::string_view(kept->data(), came));
    }
    quillon::json::Document doc = stream.finish(std::string_view(kept->data(), body.size()), kept, kept->size());
    return quillon::pretty_format(doc.root, 80);
  } catch (const quillon::Error& e) {
    return std::string("error ") + e.what();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const bool as_is =
      quillon::unicode::first_invalid_utf8(body) == std::string_view::npos && !body.starts_with("\xEF\xBB\xBF");
  bool accepted = false;
  std::string whole;
  try {
    quillon::json::Document doc = quillon::json::decode(body);
    accepted = true;
    std::size_t printed = 0;
    quillon::pretty_print(doc.root, [&](std::string_view chunk) { printed += chunk.size(); });
    // Narrow widths exercise the breaking of texts and containers.
    (void)quillon::pretty_format(doc.root, 20);
    whole = quillon::pretty_format(doc.root, 80);
  } catch (const quillon::Error& e) {
    whole = std::string("error ") + e.what();
  }
  if (as_is && accepted == quillon::json::diagnose(body).has_value()) std::abort();
  if (arriving(body, 1 + size % 31, 1 + size % 5) != whole) std::abort();
  return 0;
}
