// Any bytes as a controller answer: decoded, then printed.
#include <cstdint>
#include <string_view>

#include "base/errors.hpp"
#include "json/json_decode.hpp"
#include "print/printer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    quillon::json::Document doc = quillon::json::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    std::size_t printed = 0;
    quillon::pretty_print(doc.root, [&](std::string_view chunk) { printed += chunk.size(); });
    // Narrow widths exercise the breaking of texts and containers.
    (void)quillon::pretty_format(doc.root, 20);
  } catch (const quillon::Error&) {
  }
  return 0;
}
