// A JSON answer's members as form fields, encoded as the request body.
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/errors.hpp"
#include "client/form_encode.hpp"
#include "json/json_decode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    quillon::json::Document doc = quillon::json::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<quillon::FormField> fields;
    if (doc.root.is_object()) {
      for (const auto& m : doc.root.members()) fields.push_back({std::string(m.key()), m.value});
    } else {
      fields.push_back({"value", doc.root});
    }
    (void)quillon::encode_form(fields);
  } catch (const quillon::Error&) {
  }
  return 0;
}
