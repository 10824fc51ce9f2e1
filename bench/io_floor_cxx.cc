// The I/O floor (io_floor.c) as a C++ program linked as quorvane is: the C++ runtime a copy of its
// own, started with the process, and one path made as a std::string before the work begins, as in
// any C++ program of this kind. Its time over io_floor's is what the language's runtime costs a
// process (its start, its heap); quorvane's time over this one's is what quorvane does beyond the
// file work, in the same language.
#include <cstdlib>
#include <string>

namespace {

const std::string kDocuments = [] {
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/Documents";
}();

}  // namespace
