// Test hooks for both filter paths: the host path on the host's own objects,
// and the native path on the core's decoded values.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string_view.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "filter/json_filter.hpp"
#include "host/host_filter.hpp"
#include "host/host_text.hpp"
#include "host/host_values.hpp"
#include "json/json_decode.hpp"

namespace nb = nanobind;
using quillon::json::Value;

namespace {

// The native path: the text decoded by the core and filtered by the core. The
// core's errors become the host's KeyError (with the key) and TypeError
// through the shared error translation. `consume`: the way a run filters,
// building the result in the answer's own storage.
nb::object filter_json(std::string_view json_text, nb::handle filters, bool consume) {
  std::vector<std::string> expressions;
  for (nb::handle expression : filters) expressions.push_back(quillon::host::checked_wtf8(expression));
  quillon::json::Document document = quillon::json::decode(json_text);
  const auto input = consume ? quillon::FilterInput::consumed : quillon::FilterInput::kept;
  return quillon::host::to_host(quillon::filter_results(document.root, expressions, document.arena, input));
}

// Seconds spent decoding and filtering one answer, each measured alone.
nb::tuple time_decode_and_filter(nb::bytes data, nb::handle filters) {
  std::vector<std::string> expressions;
  for (nb::handle expression : filters) expressions.push_back(quillon::host::checked_wtf8(expression));
  std::string_view body(data.c_str(), data.size());
  using clock = std::chrono::steady_clock;
  double decode_seconds = 0, filter_seconds = 0;
  std::size_t size = 0;
  {
    nb::gil_scoped_release unlocked;
    auto start = clock::now();
    quillon::json::Document document = quillon::json::decode(body);
    auto decoded = clock::now();
    Value result = quillon::filter_results(document.root, expressions, document.arena);
    auto filtered = clock::now();
    size = result.size();
    decode_seconds = std::chrono::duration<double>(decoded - start).count();
    filter_seconds = std::chrono::duration<double>(filtered - decoded).count();
  }
  return nb::make_tuple(decode_seconds, filter_seconds, size);
}

}  // namespace

void bind_filter(nb::module_& m) {
  quillon::host::define_filter_results(m, "filter_host");
  m.def("filter_json", &filter_json, nb::arg("json_text"), nb::arg("filters"), nb::arg("consume") = false,
        "Decodes the text and filters it, both in the core.");
  m.def("time_decode_and_filter", &time_decode_and_filter, nb::arg("data"), nb::arg("filters"),
        "(decode seconds, filter seconds, size of the result) for one answer.");
  m.def("split_filter_list", [](nb::handle value) {
    nb::list out;
    for (const std::string& expression : quillon::split_filter_list(quillon::host::checked_wtf8(value)))
      out.append(quillon::host::host_text(expression));
    return out;
  });
}
