// Form bodies, checked without the Python host (the byte-for-byte
// comparison with the host's client lives in the Python tests).
#include <gtest/gtest.h>

#include <vector>

#include "base/errors.hpp"
#include "client/form_encode.hpp"

using namespace quillon;
using json::Value;

namespace {

std::string encode(std::vector<FormField> fields) { return encode_form(fields); }

}  // namespace

TEST(FormEncode, WritesEachKindLikeTheHostClient) {
  Value inner[] = {Value::null(), Value::real(1e20), Value::text("a b")};
  json::Arena keys;
  json::Member members[] = {{keys.store_key("k1"), Value::integer(1)}, {keys.store_key("k 2"), Value::null()}};
  Value items[] = {Value::null(), Value::integer(-7), Value::boolean(false), Value::array(inner, 3),
                   Value::object(members, 2)};
  EXPECT_EQ(encode({{"CID", Value::text("x&y=z+%\xc3\xa9~_.-")},
                    {"gone", Value::null()},
                    {"list", Value::array(items, 5)},
                    {"obj", Value::object(members, 2)},
                    {"big", Value::big_integer("-123456789012345678901234567890")},
                    {"r", Value::real(0.1)}}),
            "CID=x%26y%3Dz%2B%25%C3%A9~_.-&list=-7&list=False&list=None&list=1e%2B20&list=a+b"
            "&list=k1&list=k+2&obj=k1&obj=k+2&big=-123456789012345678901234567890&r=0.1");
  EXPECT_EQ(encode({}), "");
  EXPECT_EQ(encode({{"only", Value::null()}}), "");
}

TEST(FormEncode, LoneSurrogatesFailWithTheHostsPosition) {
  // "ab" + U+D800 + U+DC01 (two lone surrogates, WTF-8) + "c"
  const std::string text =
      "ab\xed\xa0\x80\xed\xb0\x81"
      "c";
  try {
    encode({{"ok", Value::text("fine")}, {"bad", Value::text(text)}});
    FAIL() << "no error";
  } catch (const TextEncodeError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::encoding);
    EXPECT_EQ(e.start(), 2u);
    EXPECT_EQ(e.end(), 4u);
    EXPECT_STREQ(e.what(), "'utf-8' codec can't encode characters in position 2-3: surrogates not allowed");
  }
}
