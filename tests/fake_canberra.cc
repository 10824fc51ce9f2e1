// A stand-in for libcanberra in the end-to-end tests: it plays nothing, appends the id of each
// event it is asked to play to the file QUORVANE_TEST_SOUND_LOG names, and refuses to play when
// QUORVANE_TEST_SOUND_FAILS is set, as it would without a sound server.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSuccess = 0;
constexpr int kNotFound = -9;  // CA_ERROR_NOTFOUND
int context;

void Note(const char* event) {
  if (const char* log = std::getenv("QUORVANE_TEST_SOUND_LOG")) {
    if (FILE* file = std::fopen(log, "a")) {
      std::fprintf(file, "%s\n", event);
      std::fclose(file);
    }
  }
}

}  // namespace

extern "C" {

int ca_context_create(void** created) {
  *created = &context;
  return kSuccess;
}

int ca_context_destroy(void*) { return kSuccess; }

int ca_context_change_props(void*, ...) { return kSuccess; }

int ca_context_playing(void*, uint32_t, int* playing) {
  *playing = 0;
  return kSuccess;
}

// The properties come in name and value pairs, ended by a null name.
int ca_context_play(void*, uint32_t id, ...) {
  va_list properties;
  va_start(properties, id);
  while (const char* name = va_arg(properties, const char*)) {
    const char* value = va_arg(properties, const char*);
    if (std::strcmp(name, "event.id") == 0) Note(value);
  }
  va_end(properties);
  return std::getenv("QUORVANE_TEST_SOUND_FAILS") != nullptr ? kNotFound : kSuccess;
}
}
