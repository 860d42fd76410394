// Filter expressions applied to the host's own objects: lists (and their
// subclasses) are arrays, dicts (and their subclasses) objects, all else scalars.
#pragma once

#include <nanobind/nanobind.h>

namespace quillon::host {

// Narrows `results` by `filters`. Lookups are the host's own item lookup, so
// its KeyError and TypeError arise as they would in the host; a failure leaves
// as a nanobind::python_error holding the host exception. New lists and dicts
// are built per step, holding the input's own objects; neither argument changes.
nanobind::object filter_results(nanobind::handle results, nanobind::handle filters);

// Defines `name` in `module` as a function of exactly (results, filters), by
// position or by name; any other call fails with the host's own TypeError
// messages for a function defined as `def name(results, filters)`.
void define_filter_results(nanobind::module_& module, const char* name);

}  // namespace quillon::host
