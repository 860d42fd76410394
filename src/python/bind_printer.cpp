#include <nanobind/nanobind.h>

namespace nb = nanobind;

void bind_printer(nb::module_& m) { (void)m; }
