// The ids of requests forwarded to the app and not yet answered.
#pragma once

#include <list>
#include <unordered_map>
#include <vector>

#include "mcp_wire/json.h"

namespace harlo_mcp {

// Keeps ids in forwarding order and finds an id without a scan, so that
// many requests in flight cost constant time each.
class PendingIds {
 public:
  PendingIds() = default;
  PendingIds(PendingIds&&) = default;
  PendingIds& operator=(PendingIds&&) = default;

  void add(mcp_wire::Json id);

  // Removes every id equal (json_equal) to `id`; an unknown id is ignored.
  void remove(const mcp_wire::Json& id);

  // Empties the list, returning its ids in forwarding order.
  std::vector<mcp_wire::Json> take_all();

  size_t size() const { return order_.size(); }

 private:
  struct Hash {
    size_t operator()(const mcp_wire::Json* id) const { return mcp_wire::json_hash(*id); }
  };
  struct Equal {
    bool operator()(const mcp_wire::Json* a, const mcp_wire::Json* b) const {
      return mcp_wire::json_equal(*a, *b);
    }
  };

  std::list<mcp_wire::Json> order_;
  // Keyed by the id inside its list node, which never moves.
  std::unordered_multimap<const mcp_wire::Json*, std::list<mcp_wire::Json>::iterator, Hash, Equal>
      index_;
};

}  // namespace harlo_mcp
