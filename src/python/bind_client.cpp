#include <nanobind/nanobind.h>

namespace nb = nanobind;

void bind_client(nb::module_& m) { (void)m; }
