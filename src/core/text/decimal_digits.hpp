// Decimal digits as the host's regular expressions (\d) and int() know them:
// every code point of Unicode category Nd, not only 0-9.
#pragma once

namespace quillon::unicode {

// The digit's value 0-9, or -1 when `cp` is not a decimal digit.
int decimal_value(char32_t cp);

}  // namespace quillon::unicode
