// The native printer and the literal forms, for tests and benchmarks.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <Python.h>

#include <string>

#include "host/host_text.hpp"
#include "host/host_values.hpp"
#include "json/json_value.hpp"
#include "print/printer.hpp"
#include "print/repr.hpp"

namespace nb = nanobind;

namespace {

using quillon::json::Arena;
using quillon::json::Value;

}  // namespace

void bind_printer(nb::module_& m) {
  m.def(
      "pformat",
      [](nb::handle obj, int width) {
        Arena arena;
        Value v = quillon::host::from_host(obj, arena);
        return quillon::host::host_text(quillon::pretty_format(v, width));
      },
      nb::arg("obj").none(), nb::arg("width") = 200, "pprint.PrettyPrinter(width=width).pformat(obj), natively.");
  m.def(
      "pprint_bytes",
      [](nb::handle obj, int width) {
        Arena arena;
        Value v = quillon::host::from_host(obj, arena);
        std::string out;
        quillon::pretty_print(
            v, [&](std::string_view piece) { out += piece; }, width);
        return nb::bytes(out.data(), out.size());
      },
      nb::arg("obj").none(), nb::arg("width") = 200, "What pprint(obj) writes, final line break included, as UTF-8.");
  m.def(
      "pprint_pieces",
      [](nb::handle obj, int width) {
        Arena arena;
        Value v = quillon::host::from_host(obj, arena);
        nb::list pieces;
        quillon::pretty_print(
            v, [&](std::string_view piece) { pieces.append(nb::bytes(piece.data(), piece.size())); }, width);
        return pieces;
      },
      nb::arg("obj").none(), nb::arg("width") = 200, "The pieces the printer hands to its writer, in order.");
  m.def(
      "repr_value",
      [](nb::handle obj, bool sort_keys) {
        Arena arena;
        Value v = quillon::host::from_host(obj, arena);
        std::string out;
        quillon::repr::append(out, v, sort_keys);
        return quillon::host::host_text(out);
      },
      nb::arg("obj").none(), nb::arg("sort_keys") = false,
      "repr(obj), natively; sort_keys orders object entries by key.");
  m.def(
      "escape_widths",
      [] {
        std::string widths(0x110000, '\0');
        for (char32_t cp = 0; cp < 0x110000; ++cp) widths[cp] = static_cast<char>(quillon::repr::char_width(cp));
        return nb::bytes(widths.data(), widths.size());
      },
      "The width the printer counts for each code point inside the quotes, for every code point in order.");
}
