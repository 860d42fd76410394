// Why bytes are not UTF-8, in the terms of the host's UnicodeDecodeError:
// the malformed range and the decoder's reason for it.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillon::unicode {

struct Utf8Fault {
  std::size_t start, end;  // the bytes the host's decoder rejects
  const char* reason;      // "invalid start byte", "invalid continuation byte", "unexpected end of data"
};

// Where and why the host's UTF-8 decoder stops at `start`, the first byte
// that is not well-formed (as first_invalid_utf8 finds it).
Utf8Fault diagnose_utf8(std::string_view bytes, std::size_t start);

}  // namespace quillon::unicode
