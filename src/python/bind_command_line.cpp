#include <nanobind/nanobind.h>

namespace nb = nanobind;

void bind_command_line(nb::module_& m) { (void)m; }
