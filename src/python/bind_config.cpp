#include <nanobind/nanobind.h>

namespace nb = nanobind;

void bind_config(nb::module_& m) { (void)m; }
