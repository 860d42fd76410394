// quillon.quillon: the program as a module of the Python host.
#include <nanobind/nanobind.h>

namespace nb = nanobind;

NB_MODULE(quillon, m) { (void)m; }
