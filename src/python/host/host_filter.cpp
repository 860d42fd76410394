#include "host/host_filter.hpp"

#include <optional>
#include <string>
#include <vector>

#include "filter/filter.hpp"

namespace nb = nanobind;

namespace quillon::host {
namespace {

[[noreturn]] void throw_host_error() { throw nb::python_error(); }

PyObject* check(PyObject* result) {
  if (result == nullptr) throw_host_error();
  return result;
}

// The expression as the host reads it: `expression.split("&")`, each piece
// `.strip()`ed, all through the expression's own methods, so anything that is
// not text fails the way the host's own code would.
class HostExpression {
 public:
  explicit HostExpression(const nb::object& source) : whole_(source) {
    nb::object pieces = source.attr("split")("&");
    for (nb::handle piece : pieces) keys_.push_back(piece.attr("strip")());
  }

  bool is_descent() const { return keys_.size() <= 1; }
  // Null when the split gave no piece at all (only a foreign `split` can).
  const nb::object& trimmed_key() const { return keys_.empty() ? absent_ : keys_.front(); }
  const nb::object& whole_key() const { return whole_; }
  // Duplicates included: each lookup is made, as the host's loop makes it.
  const std::vector<nb::object>& projection_keys() const { return keys_; }

 private:
  nb::object whole_;
  nb::object absent_;
  std::vector<nb::object> keys_;
};

PyObject* marker_text() {
  // Shared by every call and never released: one interned text object.
  static PyObject* marker = PyUnicode_InternFromString("FILTER_NOT_FOUND");
  return marker;
}

class HostAdapter {
 public:
  using Value = nb::object;
  using Source = nb::object;
  using Expression = HostExpression;

  Expression parse(const nb::object& source) const { return HostExpression(source); }

  filter::Shape shape(const nb::object& value) const {
    if (PyList_Check(value.ptr())) return filter::Shape::array;
    if (PyDict_Check(value.ptr())) return filter::Shape::object;
    return filter::Shape::scalar;
  }
  nb::object null() const { return nb::none(); }
  nb::object marker() const { return nb::borrow(marker_text()); }

  // `container[key]`, every failure raised.
  nb::object lookup(const nb::object& container, const nb::object& key) const {
    if (!key.is_valid()) {
      PyErr_SetString(PyExc_IndexError, "list index out of range");  // split_filters[0] of []
      throw_host_error();
    }
    if (PyDict_CheckExact(container.ptr())) {
      // The plain dict's own lookup, without making an exception just to inspect it.
      if (PyObject* found = PyDict_GetItemWithError(container.ptr(), key.ptr())) return nb::borrow(found);
      if (!PyErr_Occurred()) {
        // As dict[key] raises it: the key packed, so a tuple key stays one argument.
        nb::object args = nb::steal(check(PyTuple_Pack(1, key.ptr())));
        PyErr_SetObject(PyExc_KeyError, args.ptr());
      }
      throw_host_error();
    }
    return nb::steal(check(PyObject_GetItem(container.ptr(), key.ptr())));
  }

  // `container[key]`, with KeyError (subclasses too) turned into "missing".
  std::optional<nb::object> lookup_or_missing(const nb::object& container, const nb::object& key) const {
    if (PyDict_CheckExact(container.ptr())) {
      if (PyObject* found = PyDict_GetItemWithError(container.ptr(), key.ptr())) return nb::borrow(found);
      if (PyErr_Occurred()) throw_host_error();
      return std::nullopt;
    }
    if (PyObject* found = PyObject_GetItem(container.ptr(), key.ptr())) return nb::steal(found);
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw_host_error();
    PyErr_Clear();
    return std::nullopt;
  }

  // `for element in array`: a plain list by position (as its iterator does,
  // seeing changes made meanwhile), a subclass through its own iterator.
  template <typename F>
  void for_each_element(const nb::object& array, F&& f) const {
    PyObject* list = array.ptr();
    if (PyList_CheckExact(list)) {
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        nb::object element = nb::borrow(PyList_GET_ITEM(list, i));
        f(element);
      }
      return;
    }
    nb::object iterator = nb::steal(check(PyObject_GetIter(list)));
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
      nb::object element = nb::steal(item);
      f(element);
    }
    if (PyErr_Occurred()) throw_host_error();
  }

  class ArrayBuilder {
   public:
    ArrayBuilder() : list_(nb::steal(check(PyList_New(0)))) {}
    void push(const nb::object& value) {
      if (PyList_Append(list_.ptr(), value.ptr()) < 0) throw_host_error();
    }
    nb::object finish() { return std::move(list_); }

   private:
    nb::object list_;
  };

  class ObjectBuilder {
   public:
    ObjectBuilder() : dict_(nb::steal(check(PyDict_New()))) {}
    // A repeated key keeps its first position and takes the new value.
    void set(const nb::object& key, const nb::object& value) {
      if (PyDict_SetItem(dict_.ptr(), key.ptr(), value.ptr()) < 0) throw_host_error();
    }
    nb::object finish() { return std::move(dict_); }

   private:
    nb::object dict_;
  };

  ArrayBuilder new_array(const nb::object&) const { return ArrayBuilder(); }
  ObjectBuilder new_object(const nb::object&) const { return ObjectBuilder(); }
};

// The expressions in order. A plain list or tuple is read from a snapshot
// (the host's code slices it, so later changes to it are not seen either);
// anything else is asked exactly as the host's code asks: len(), [0], [1:].
class HostFilterList {
 public:
  explicit HostFilterList(nb::handle filters) {
    if (PyList_CheckExact(filters.ptr()))
      snapshot_ = nb::steal(check(PyList_AsTuple(filters.ptr())));
    else if (PyTuple_CheckExact(filters.ptr()))
      snapshot_ = nb::borrow(filters);
    else
      rest_ = nb::borrow(filters);
  }

  std::optional<nb::object> next() {
    if (snapshot_.is_valid()) {
      if (next_ == PyTuple_GET_SIZE(snapshot_.ptr())) return std::nullopt;
      return nb::borrow(PyTuple_GET_ITEM(snapshot_.ptr(), next_++));
    }
    Py_ssize_t size = PyObject_Size(rest_.ptr());
    if (size < 0) throw_host_error();
    if (size == 0) return std::nullopt;
    nb::object first = nb::steal(check(PyObject_GetItem(rest_.ptr(), nb::int_(0).ptr())));
    nb::object from_one = nb::steal(check(PySlice_New(nb::int_(1).ptr(), Py_None, Py_None)));
    rest_ = nb::steal(check(PyObject_GetItem(rest_.ptr(), from_one.ptr())));
    return first;
  }

 private:
  nb::object snapshot_;
  Py_ssize_t next_ = 0;
  nb::object rest_;
};

}  // namespace

nb::object filter_results(nb::handle results, nb::handle filters) {
  HostAdapter adapter;
  HostFilterList list(filters);
  return filter::filter_results(adapter, nb::borrow(results), list);
}

namespace {

[[noreturn]] void argument_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  throw_host_error();
}

}  // namespace

void define_filter_results(nb::module_& module, const char* name) {
  std::string function(name);
  module.def(
      name,
      [function](nb::args args, nb::kwargs kwargs) -> nb::object {
        static const char* const names[2] = {"results", "filters"};
        const std::string prefix = function + "() ";
        // Bound in the host's order: positions, then names, then the count.
        PyObject* bound[2] = {nullptr, nullptr};
        const std::size_t given = args.size();
        for (std::size_t i = 0; i < given && i < 2; ++i) bound[i] = args[i].ptr();
        for (auto [key, value] : kwargs) {
          std::string keyword = nb::str(key).c_str();
          int slot = keyword == names[0] ? 0 : keyword == names[1] ? 1 : -1;
          if (slot < 0) argument_error(prefix + "got an unexpected keyword argument '" + keyword + "'");
          if (bound[slot] != nullptr) argument_error(prefix + "got multiple values for argument '" + keyword + "'");
          bound[slot] = value.ptr();
        }
        if (given > 2)
          argument_error(prefix + "takes 2 positional arguments but " + std::to_string(given) + " were given");
        if (!bound[0] && !bound[1])
          argument_error(prefix + "missing 2 required positional arguments: 'results' and 'filters'");
        for (int slot = 0; slot < 2; ++slot)
          if (!bound[slot]) argument_error(prefix + "missing 1 required positional argument: '" + names[slot] + "'");
        return filter_results(bound[0], bound[1]);
      },
      "Narrows a decoded answer by a list of filter expressions.");
}

}  // namespace quillon::host
