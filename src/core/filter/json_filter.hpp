// Filter expressions applied to the core's decoded JSON values.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_value.hpp"

namespace quillon {

// Narrows `results` by `filters`. New arrays and objects (and the keys they
// store) are allocated in `arena`; the values inside them are `results`' own.
// Throws KeyLookupError for a missing key that no step forgives, and
// Error(ErrorKind::type) with the host's message for a lookup in a non-object.
// `consumed`: the caller drops `results` once it has the narrowed value, so
// the filter may build it in the storage of `results`' own arrays and objects
// (a 100 MB answer then needs no second copy of its records).
// `check_interrupt` is called every few thousand elements of an array; what
// it throws ends the filtering (Ctrl-C).
enum class FilterInput { kept, consumed };
json::Value filter_results(json::Value results, std::span<const std::string> filters, json::Arena& arena,
                           FilterInput input = FilterInput::kept, const std::function<void()>& check_interrupt = {});

// A configuration file's "filters" value as a list: cut at every "," and
// each piece trimmed. An empty value gives one empty expression.
std::vector<std::string> split_filter_list(std::string_view filters_value);

}  // namespace quillon
