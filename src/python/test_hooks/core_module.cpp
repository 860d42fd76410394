// quillon._core: the core's internals, for tests and benchmarks only.
// The public module quillon.quillon keeps just the program's own names.
#include <nanobind/nanobind.h>

#include "host/host_errors.hpp"

namespace nb = nanobind;

void bind_json(nb::module_& m);
void bind_config(nb::module_& m);
void bind_printer(nb::module_& m);
void bind_filter(nb::module_& m);
void bind_command_line(nb::module_& m);
void bind_client(nb::module_& m);
void bind_json_writer(nb::module_& m);
void bind_diff(nb::module_& m);

NB_MODULE(_core, m) {
  quillon::host::register_error_translation();
  bind_json(m);
  bind_config(m);
  bind_printer(m);
  bind_filter(m);
  bind_command_line(m);
  bind_client(m);
  bind_json_writer(m);
  bind_diff(m);
}
