// Test hooks for the decoder and the host conversions.
#include <nanobind/nanobind.h>

#include <string>

#include "base/errors.hpp"
#include "host/host_errors.hpp"
#include "host/host_values.hpp"
#include "json/json_decode.hpp"

namespace nb = nanobind;
using namespace quillon;

namespace {

nb::object decoded(json::Document (*decode)(std::string&), nb::bytes data) {
  std::string body(data.c_str(), data.size());
  json::Document doc;
  {
    nb::gil_scoped_release unlocked;
    doc = decode(body);
  }
  return host::to_host(doc.root);
}

json::Document decode_copy(std::string& body) { return json::decode(body); }
json::Document decode_in_place(std::string& body) { return json::decode_buffer(body); }

}  // namespace

void bind_json(nb::module_& m) {
  // What decode errors raise: the module's class, a json.JSONDecodeError and an OSError.
  m.attr("JSONDecodeError") = host::json_decode_error_class();
  m.attr("json_max_depth") = json::max_depth;
  m.def(
      "decode", [](nb::bytes data) { return decoded(decode_copy, data); }, nb::arg("data"),
      "Decodes an answer body as the host's decoder does.");
  m.def(
      "decode_buffer", [](nb::bytes data) { return decoded(decode_in_place, data); }, nb::arg("data"),
      "The same through the in-place path that uses the buffer's spare room.");
  m.def(
      "roundtrip",
      [](nb::handle value) {
        json::Arena arena;
        return host::to_host(host::from_host(value, arena));
      },
      nb::arg("value").none(), "Converts a host value to the core's and back.");
}
