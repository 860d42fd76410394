// Binding a call's arguments to a module function's parameters the way the
// host binds them for a plain function, with the host's own TypeError
// wording ("f() missing 1 required positional argument: 'b'"), instead of
// the binding library's generic "incompatible function arguments".
#pragma once

#include <nanobind/nanobind.h>

#include <array>
#include <string_view>

namespace quillon::host {

namespace detail {
// Fills `bound` (one slot per name) from `args` and `kwargs`, or raises the
// host's TypeError for `function`.
void bind_arguments(std::string_view function, const char* const* names, std::size_t count, nanobind::args args,
                    nanobind::kwargs kwargs, PyObject** bound);
}  // namespace detail

// The arguments of a call of `function(names...)`, every parameter required.
template <std::size_t N>
std::array<nanobind::handle, N> bind_arguments(std::string_view function, const std::array<const char*, N>& names,
                                               nanobind::args args, nanobind::kwargs kwargs) {
  std::array<PyObject*, N> bound{};
  detail::bind_arguments(function, names.data(), N, std::move(args), std::move(kwargs), bound.data());
  std::array<nanobind::handle, N> handles;
  for (std::size_t i = 0; i < N; ++i) handles[i] = bound[i];
  return handles;
}

// A path argument as the host's file functions take it (str, bytes or any
// os.PathLike), as the bytes the file system sees.
std::string path_bytes(nanobind::handle path);

}  // namespace quillon::host
