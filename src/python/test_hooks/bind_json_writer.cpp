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

// `v` in one line, or indented with sorted keys (the file --save writes).
nb::bytes written(const Value& v, bool indented) {
  std::string out;
  auto sink = [&](std::string_view piece) { out += piece; };
  if (indented)
    quillon::write_json_indented(v, sink);
  else
    quillon::write_json(v, sink);
  return as_bytes(out);
}

std::optional<std::string> optional_text(nb::handle text) {
  if (text.is_none()) return std::nullopt;
  return quillon::host::wtf8(text);
}

}  // namespace

void bind_json_writer(nb::module_& m) {
  m.def(
      "json_dumps",
      [](nb::handle obj, bool indented) {
        Arena arena;
        return written(quillon::host::from_host(obj, arena), indented);
      },
      nb::arg("obj").none(), nb::arg("indented") = false,
      "json.dumps(obj, ensure_ascii=False), natively, as UTF-8; indented: with indent=2 and sort_keys=True, and a\n"
      "line break.");
  m.def(
      "json_rewrite",
      [](nb::bytes body, bool indented) {
        quillon::json::Document doc = quillon::json::decode(std::string_view(body.c_str(), body.size()));
        return written(doc.root, indented);
      },
      nb::arg("body"), nb::arg("indented") = false, "An answer decoded by the core and written back as JSON.");
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
