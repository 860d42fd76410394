#include "filter/keep_plan.hpp"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "filter/filter_expression.hpp"

namespace quillon {
namespace {

using Node = json::KeepPlan::Node;

// The filter's steps as it applies them (filter.hpp), followed through the
// list from its end, so that a long list costs no stack:
// - value(i): filter_results(v, filters[i:]). An array has the rest applied
//   item by item (item(i)); an object is looked up by the expression's keys
//   (a descent by the whole expression).
// - item(i): the item steps filters[i], filters[i+1], ... on one element of
//   an array: each looks a key up in it (a descent by the trimmed key), so an
//   item that is an array is only looked up in, which fails whatever it holds.
// - After a projection the kept member k is one member of a new object that
//   the rest of the list goes on with (kept(k, j)): a later descent reads it
//   only if it names k, a later projection only if it keeps k.
class Planner {
 public:
  explicit Planner(std::span<const std::string> filters) {
    for (const std::string& f : filters) {
      steps_.push_back(filter::parse_expression(f));
      sorted_keys_.push_back(steps_.back().keys);
      std::sort(sorted_keys_.back().begin(), sorted_keys_.back().end());
    }
  }

  json::KeepPlan run() {
    const std::size_t n = steps_.size();
    values_.assign(n + 1, json::KeepPlan::whole());
    items_.assign(n + 1, json::KeepPlan::whole());
    for (std::size_t i = n; i-- > 0;) {
      const filter::Expression& step = steps_[i];
      Node& value = plan_.add();
      Node& item = plan_.add();
      value.items = &item;
      if (step.descent) {
        plan_.add_member(value, step.whole, values_[i + 1]);
        plan_.add_member(item, step.trimmed, items_[i + 1]);
      } else {
        for (std::string_view key : step.keys) {
          plan_.add_member(value, key, kept(key, i + 1, false));
          plan_.add_member(item, key, kept(key, i + 1, true));
        }
      }
      values_[i] = &value;
      items_[i] = &item;
    }
    plan_.set_root(values_[0]);
    return std::move(plan_);
  }

 private:
  // What is read of member `key` of an object that a projection made, with
  // filters[j:] still to come: on an answer's value, or item by item.
  const Node* kept(std::string_view key, std::size_t j, bool item_steps) {
    auto& memo = kept_[item_steps];
    // The projections that keep `key` in a row are walked once: every
    // position on the way gets the same answer.
    std::vector<std::size_t> passed;
    const Node* read = nullptr;
    for (;; ++j) {
      if (const auto found = memo.find({j, key}); found != memo.end()) {
        read = found->second;
        break;
      }
      passed.push_back(j);
      if (j == steps_.size()) {
        read = json::KeepPlan::whole();
        break;
      }
      const filter::Expression& step = steps_[j];
      if (step.descent) {
        const bool named = (item_steps ? step.trimmed : step.whole) == key;
        read = !named ? nullptr : item_steps ? items_[j + 1] : values_[j + 1];
        break;
      }
      if (!std::binary_search(sorted_keys_[j].begin(), sorted_keys_[j].end(), key)) break;
    }
    for (std::size_t at : passed) memo.emplace(std::pair{at, key}, read);
    return read;
  }

  std::vector<filter::Expression> steps_;
  std::vector<std::vector<std::string_view>> sorted_keys_;  // of each step, for finding one
  json::KeepPlan plan_;
  std::vector<const Node*> values_, items_;
  std::map<std::pair<std::size_t, std::string_view>, const Node*> kept_[2];
};

}  // namespace

json::KeepPlan keep_plan(std::span<const std::string> filters) { return Planner(filters).run(); }

}  // namespace quillon
