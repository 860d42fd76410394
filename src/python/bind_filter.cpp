#include <nanobind/nanobind.h>

namespace nb = nanobind;

void bind_filter(nb::module_& m) { (void)m; }
