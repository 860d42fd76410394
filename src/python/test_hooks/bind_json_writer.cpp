// The JSON Lines writer, for tests: on host values, and on answers decoded
// by the core itself (the path the program takes).
#include <nanobind/nanobind.h>

#include <optional>
#include <string>

#include "host/host_front_end.hpp"
#include "host/host_text.hpp"
#include "host/host_values.hpp"
#include "json/json_decode.hpp"
#include "json/json_value.hpp"
#include "print/json_writer.hpp"

namespace nb = nanobind;
using quillon::json::Arena;
using quillon::json::Value;

namespace {

nb::bytes as_bytes(const std::string& s) { return nb::bytes(s.data(), s.size()); }

std::optional<std::string> optional_text(nb::handle text) {
  if (text.is_none()) return std::nullopt;
  return quillon::host::wtf8(text);
}

}  // namespace

void bind_json_writer(nb::module_& m) {
  m.def(
      "json_dumps",
      [](nb::handle obj) {
        Arena arena;
        Value v = quillon::host::from_host(obj, arena);
        std::string out;
        quillon::write_json(v, [&](std::string_view piece) { out += piece; });
        return as_bytes(out);
      },
      nb::arg("obj").none(), "json.dumps(obj, ensure_ascii=False), natively, as UTF-8.");
  m.def(
      "json_rewrite",
      [](nb::bytes body) {
        quillon::json::Document doc = quillon::json::decode(std::string_view(body.c_str(), body.size()));
        std::string out;
        quillon::write_json(doc.root, [&](std::string_view piece) { out += piece; });
        return as_bytes(out);
      },
      nb::arg("body"), "An answer decoded by the core and written back as JSON.");
  m.def(
      "json_pieces",
      [](nb::handle obj) {
        Arena arena;
        Value v = quillon::host::from_host(obj, arena);
        nb::list pieces;
        quillon::write_json(v, [&](std::string_view piece) { pieces.append(nb::bytes(piece.data(), piece.size())); });
        return pieces;
      },
      nb::arg("obj").none(), "The pieces the JSON writer hands to its sink, in order.");
  m.def(
      "json_result_line",
      [](nb::handle file, nb::handle description, nb::handle result) {
        Arena arena;
        Value v = quillon::host::from_host(result, arena);
        std::optional<std::string> d = optional_text(description);
        std::string out;
        quillon::write_json_result_line(quillon::host::wtf8(file), d, v, [&](std::string_view piece) { out += piece; });
        return as_bytes(out);
      },
      nb::arg("file"), nb::arg("description").none(), nb::arg("result").none(), "One result line.");
  m.def(
      "json_error_line",
      [](nb::handle file, nb::handle description, nb::handle kind, nb::handle message) {
        std::optional<std::string> d = optional_text(description);
        std::string out;
        quillon::write_json_error_line(quillon::host::wtf8(file), d, quillon::host::wtf8(kind),
                                       quillon::host::wtf8(message), [&](std::string_view piece) { out += piece; });
        return as_bytes(out);
      },
      nb::arg("file"), nb::arg("description").none(), nb::arg("kind"), nb::arg("message"), "One error line.");
}
