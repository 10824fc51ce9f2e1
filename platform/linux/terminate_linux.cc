// What the executable says when an exception escapes and the C++ runtime ends the process. The
// runtime's own handler names the exception's type, and for that carries a demangler: some 50 KiB
// of code and 3 KiB of pointer tables, which every start of the executable maps and relocates,
// though no run of Quorvane ever lets an exception escape. This one, linked in its place (the
// executable carries its own copy of the runtime), says what the exception says, and ends the
// process the same way.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

void Say(const char* text) {
  const size_t length = std::strlen(text);
  for (size_t done = 0; done < length;) {
    const ssize_t written = ::write(STDERR_FILENO, text + done, length - done);
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

}  // namespace

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  // A second call (the report itself failing) goes straight to the end.
  static bool reporting = false;
  if (!reporting) {
    reporting = true;
    const std::exception_ptr escaped = std::current_exception();
    if (!escaped) {
      Say("quorvane: terminate called without an active exception\n");
    } else {
      Say("quorvane: terminate called after an exception nobody caught");
      try {
        std::rethrow_exception(escaped);
      } catch (const std::exception& exception) {
        Say(": ");
        Say(exception.what());
      } catch (...) {
      }
      Say("\n");
    }
  }
  std::abort();
}

}  // namespace __gnu_cxx
