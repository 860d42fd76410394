// What a list of filter expressions will read of an answer, as a plan for
// the decoder (json/json_keep_plan.hpp): a descent reads one member of an
// object, a projection the members it keeps, an array step every item, and
// the value left when no expression remains is read whole.
#pragma once

#include <span>
#include <string>

#include "json/json_keep_plan.hpp"

namespace quillon {

json::KeepPlan keep_plan(std::span<const std::string> filters);

}  // namespace quillon
