#include "harlo_mcp/pending_ids.h"

namespace harlo_mcp {

void PendingIds::add(mcp_wire::Json id) {
  order_.push_back(std::move(id));
  const auto node = std::prev(order_.end());
  index_.emplace(&*node, node);
}

void PendingIds::remove(const mcp_wire::Json& id) {
  const auto [first, last] = index_.equal_range(&id);
  for (auto it = first; it != last; ++it) order_.erase(it->second);
  index_.erase(first, last);
}

std::vector<mcp_wire::Json> PendingIds::take_all() {
  index_.clear();
  std::vector<mcp_wire::Json> ids(std::make_move_iterator(order_.begin()),
                                  std::make_move_iterator(order_.end()));
  order_.clear();
  return ids;
}

}  // namespace harlo_mcp
