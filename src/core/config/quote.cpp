// Text quoted for messages as the host's repr() shows it, file names with
// undecodable bytes included.
#include "config/config_reader.hpp"
#include "print/repr.hpp"
#include "text/unicode.hpp"

namespace quillon::config {

std::string quote(std::string_view text) {
  std::size_t bad = unicode::first_invalid_utf8(text);
  if (bad == std::string_view::npos) return repr::quoted(text);
  // Each byte of a malformed sequence stands for itself, as surrogateescape
  // decodes file names.
  std::string decoded;
  std::size_t pos = 0;
  while (bad != std::string_view::npos) {
    decoded.append(text.substr(pos, bad - pos));
    unicode::append(decoded, 0xDC00 + static_cast<unsigned char>(text[bad]));
    pos = bad + 1;
    std::size_t next = unicode::first_invalid_utf8(text.substr(pos));
    bad = next == std::string_view::npos ? next : pos + next;
  }
  decoded.append(text.substr(pos));
  return repr::quoted(decoded);
}

}  // namespace quillon::config
