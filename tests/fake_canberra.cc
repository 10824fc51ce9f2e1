// libcanberra for the end-to-end tests: plays nothing, appends each event id it is asked to play
// to the file QUORVANE_TEST_SOUND_LOG names, and with QUORVANE_TEST_SOUND_FAILS set refuses to
// play, as without a sound server.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {

int ca_context_create(void** context) {
  static int the_context;
  *context = &the_context;
  return 0;
}
int ca_context_destroy(void*) { return 0; }
int ca_context_change_props(void*, ...) { return 0; }
int ca_context_playing(void*, uint32_t, int* playing) { return *playing = 0; }

// Properties come as name and value pairs, ended by a null name.
int ca_context_play(void*, uint32_t id, ...) {
  va_list properties;
  va_start(properties, id);
  while (const char* name = va_arg(properties, const char*)) {
    const char* value = va_arg(properties, const char*);
    const char* log = std::getenv("QUORVANE_TEST_SOUND_LOG");
    if (std::strcmp(name, "event.id") != 0 || log == nullptr) continue;
    if (FILE* file = std::fopen(log, "a")) {
      std::fprintf(file, "%s\n", value);
      std::fclose(file);
    }
  }
  va_end(properties);
  return std::getenv("QUORVANE_TEST_SOUND_FAILS") != nullptr ? -9 : 0;  // -9: CA_ERROR_NOTFOUND
}
}
