// Test hooks for the decoder and the host conversions.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "filter/json_filter.hpp"
#include "filter/keep_plan.hpp"
#include "host/host_errors.hpp"
#include "host/host_text.hpp"
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

// The body arriving in pieces of the given sizes (the rest in one more),
// decoded as it comes with chunks of at least `chunk` bytes, and, with
// filters, built only as far as they read and then filtered as a run does.
nb::object decode_arriving(nb::bytes data, const std::vector<std::size_t>& pieces, std::size_t chunk,
                           const std::optional<nb::list>& filters) {
  std::vector<std::string> expressions;
  if (filters)
    for (nb::handle expression : *filters) expressions.push_back(host::checked_wtf8(expression));
  const json::KeepPlan plan = filters ? keep_plan(expressions) : json::KeepPlan();
  const std::size_t size = data.size();
  json::Document doc;
  json::Value result;
  {
    nb::gil_scoped_release unlocked;
    // Room for every byte from the start, so that none moves.
    auto body = std::make_shared<std::string>(size + json::padding_bytes, '\0');
    json::StreamDecoder stream(plan, {}, chunk);
    std::size_t came = 0;
    auto arrive = [&](std::size_t n) {
      n = std::min(n, size - came);
      std::memcpy(body->data() + came, data.c_str() + came, n);
      came += n;
      stream.grew(std::string_view(body->data(), came));
    };
    for (std::size_t n : pieces) arrive(n);
    arrive(size);
    doc = stream.finish(std::string_view(body->data(), size), body, body->size());
    result = filters ? filter_results(doc.root, expressions, doc.arena, FilterInput::consumed) : doc.root;
  }
  return host::to_host(result);
}

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
  m.def("decode_arriving", &decode_arriving, nb::arg("data"), nb::arg("pieces"), nb::arg("chunk"),
        nb::arg("filters") = nb::none(),
        "Decodes the body as it arrives in pieces of these sizes, in chunks of at least `chunk` bytes; with "
        "filters, builds what they read and returns the filtered value.");
  m.def(
      "roundtrip",
      [](nb::handle value) {
        json::Arena arena;
        return host::to_host(host::from_host(value, arena));
      },
      nb::arg("value").none(), "Converts a host value to the core's and back.");
}
