#pragma once

#include <string_view>

// Writing to a POSIX descriptor, the one way for the files a run writes and for the standard
// streams alike.
namespace quorvane {

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT): a descriptor that its owner made
// non-blocking answers EAGAIN instead of waiting by itself.
void AwaitReady(int fd, short events);

// Writes all of `bytes` to `fd`: a write cut short goes on where it stopped, an interrupted one
// is made again, and a non-blocking descriptor is waited on, never taken for a failure. False,
// with errno set, when a write fails, or writes nothing at all (errno EIO then: a descriptor that
// takes no byte would otherwise be asked for ever).
[[nodiscard]] bool WriteAll(int fd, std::string_view bytes);

}  // namespace quorvane
