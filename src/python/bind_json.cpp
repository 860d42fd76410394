#include <nanobind/nanobind.h>

namespace nb = nanobind;

void bind_json(nb::module_& m) { (void)m; }
