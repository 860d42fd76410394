// Any bytes as a controller answer: decoded, then printed. Where the bytes
// are what the host decodes as they are (valid UTF-8, no byte-order mark),
// the fast decoder and the slow diagnosis of the host's scanner must agree
// on whether the document is JSON.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/errors.hpp"
#include "json/decode_error.hpp"
#include "json/json_decode.hpp"
#include "print/printer.hpp"
#include "text/unicode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const bool as_is =
      quillon::unicode::first_invalid_utf8(body) == std::string_view::npos && !body.starts_with("\xEF\xBB\xBF");
  bool accepted = false;
  try {
    quillon::json::Document doc = quillon::json::decode(body);
    accepted = true;
    std::size_t printed = 0;
    quillon::pretty_print(doc.root, [&](std::string_view chunk) { printed += chunk.size(); });
    // Narrow widths exercise the breaking of texts and containers.
    (void)quillon::pretty_format(doc.root, 20);
  } catch (const quillon::Error&) {
  }
  if (as_is && accepted == quillon::json::diagnose(body).has_value()) std::abort();
  return 0;
}
