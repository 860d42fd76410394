// The comparison of a saved result with the current one, for tests: on host
// values, each difference as (change, path, before, after) with the values
// in the printer's flat form (None where there is none).
#include <nanobind/nanobind.h>

#include "diff/value_diff.hpp"
#include "host/host_text.hpp"
#include "host/host_values.hpp"
#include "print/repr.hpp"

namespace nb = nanobind;

namespace {

nb::object flat(const quillon::diff::Difference& d, bool before) {
  const bool present = before ? d.change != quillon::diff::Difference::Change::added
                              : d.change != quillon::diff::Difference::Change::removed;
  if (!present) return nb::none();
  std::string text;
  quillon::repr::append(text, before ? d.before : d.after, /*sort_keys=*/true);
  return quillon::host::host_text(text);
}

constexpr const char* change_name(quillon::diff::Difference::Change change) {
  switch (change) {
    case quillon::diff::Difference::Change::changed:
      return "changed";
    case quillon::diff::Difference::Change::added:
      return "added";
    case quillon::diff::Difference::Change::removed:
      return "removed";
  }
  return "";
}

}  // namespace

void bind_diff(nb::module_& m) {
  m.def(
      "compare_values",
      [](nb::handle saved, nb::handle current) {
        quillon::json::Arena arena;
        const quillon::json::Value before = quillon::host::from_host(saved, arena);
        const quillon::json::Value after = quillon::host::from_host(current, arena);
        nb::list out;
        for (const quillon::diff::Difference& d : quillon::diff::compare(before, after))
          out.append(nb::make_tuple(change_name(d.change), quillon::host::host_text(quillon::diff::path_text(d.path)),
                                    flat(d, true), flat(d, false)));
        return out;
      },
      nb::arg("saved").none(), nb::arg("current").none());
}
