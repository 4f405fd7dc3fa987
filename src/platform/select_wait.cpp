// Before any system header: lets select() on macOS take descriptor sets
// larger than FD_SETSIZE (its default form fails with EINVAL for nfds above
// FD_SETSIZE). Other systems do not know the name and take such sets anyway.
#define _DARWIN_UNLIMITED_SELECT 1

#include <sys/select.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/platform.h"

namespace harlo_platform {
namespace {

// fd_set is an array of bit words with one bit per descriptor below
// FD_SETSIZE, and nothing else; consecutive fd_sets therefore form one larger
// set in which descriptor n is bit n % FD_SETSIZE of set n / FD_SETSIZE. That
// is the layout select() reads for any nfds.
static_assert(sizeof(fd_set) * CHAR_BIT == FD_SETSIZE, "fd_set holds more than its bits");

// A descriptor set with room for descriptors 0 to `highest`. The usual
// case, every descriptor below FD_SETSIZE, needs no allocation: the wait
// runs once per pass of the session loop.
class DescriptorSet {
 public:
  explicit DescriptorSet(int highest)
      : count_(highest < FD_SETSIZE ? 1 : static_cast<size_t>(highest) / FD_SETSIZE + 1) {
    if (count_ > 1) spill_.resize(count_);
    for (size_t i = 0; i < count_; ++i) FD_ZERO(&get()[i]);
  }
  void add(int fd) { FD_SET(fd % FD_SETSIZE, &get()[static_cast<size_t>(fd) / FD_SETSIZE]); }
  bool has(int fd) {
    return FD_ISSET(fd % FD_SETSIZE, &get()[static_cast<size_t>(fd) / FD_SETSIZE]);
  }
  fd_set* get() { return count_ == 1 ? &first_ : spill_.data(); }

 private:
  size_t count_;
  fd_set first_;
  std::vector<fd_set> spill_;
};

}  // namespace

int wait_with_select(std::span<Watch> watches, int timeout_ms) {
  int highest = -1;
  for (const Watch& watch : watches) {
    if (watch.fd < 0) {
      errno = EBADF;
      return -1;
    }
    if (watch.fd > highest) highest = watch.fd;
  }
  DescriptorSet readable(highest), writable(highest);
  for (const Watch& watch : watches) {
    if (watch.want_read) readable.add(watch.fd);
    if (watch.want_write) writable.add(watch.fd);
  }
  timeval limit{timeout_ms / 1000, static_cast<int>((timeout_ms % 1000) * 1000)};
  const int ready = select(highest + 1, readable.get(), writable.get(), nullptr,
                           timeout_ms < 0 ? nullptr : &limit);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  for (Watch& watch : watches) {
    watch.readable = watch.want_read && readable.has(watch.fd);
    watch.writable = watch.want_write && writable.has(watch.fd);
  }
  return ready;
}

}  // namespace harlo_platform
