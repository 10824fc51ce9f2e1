#include "platform/linux/desktop_sound_linux.h"

#include <dlfcn.h>
#include <unistd.h>

#include "platform/linux/startup_heap.h"

namespace quorvane {
namespace {

constexpr int kSuccess = 0;  // CA_SUCCESS
constexpr uint32_t kSoundId = 1;
constexpr int kLongestWaitMs = 3000;
constexpr const char* kEnd = nullptr;  // ends a libcanberra property list

using Create = int (*)(void** context);
using ChangeProps = int (*)(void* context, ...);

void IgnoreSoundLibraryError(const char*, int, const char*, int, const char*, ...) {}

// libcanberra falls back on ALSA, which writes its complaints (a machine with a display but no
// sound card, say) to standard error, where a calling program would take them for Quorvane's.
void SilenceAlsa() {
  void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
  if (alsa == nullptr) return;
  using ErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
  using SetErrorHandler = int (*)(ErrorHandler);
  if (auto set = reinterpret_cast<SetErrorHandler>(::dlsym(alsa, "snd_lib_error_set_handler"))) {
    set(&IgnoreSoundLibraryError);
  }
}

}  // namespace

DesktopSound::~DesktopSound() {
  if (context_ == nullptr) return;
  for (int waited = 0; started_ && waited < kLongestWaitMs; waited += 20) {
    int playing = 0;
    if (playing_(context_, kSoundId, &playing) != kSuccess || playing == 0) break;
    ::usleep(20'000);
  }
  destroy_(context_);
  // The library stays loaded: the process is about to end, and its threads may be winding down.
}

bool DesktopSound::Load() {
  if (tried_) return context_ != nullptr;
  tried_ = true;
  CloseStartupHeap();
  void* library = ::dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  auto create = reinterpret_cast<Create>(::dlsym(library, "ca_context_create"));
  auto change_props = reinterpret_cast<ChangeProps>(::dlsym(library, "ca_context_change_props"));
  destroy_ = reinterpret_cast<Destroy>(::dlsym(library, "ca_context_destroy"));
  play_ = reinterpret_cast<PlayEvent>(::dlsym(library, "ca_context_play"));
  playing_ = reinterpret_cast<Playing>(::dlsym(library, "ca_context_playing"));
  if (create == nullptr || change_props == nullptr || destroy_ == nullptr || play_ == nullptr ||
      playing_ == nullptr) {
    return false;
  }
  SilenceAlsa();
  void* context = nullptr;
  if (create(&context) != kSuccess || context == nullptr) return false;
  context_ = context;
  change_props(context_, "application.name", application_name_.c_str(), "application.id",
               "quorvane", kEnd);
  return true;
}

bool DesktopSound::Play(MessageIcon sound) {
  if (!Load()) return false;
  // A theme without the completion sound still has the information dialog's.
  const char* const information[] = {"complete", "dialog-information", nullptr};
  const char* const error[] = {"dialog-error", nullptr};
  for (const char* const* event = sound == MessageIcon::kError ? error : information;
       *event != nullptr; ++event) {
    if (play_(context_, kSoundId, "event.id", *event, "event.description", "Quorvane", kEnd) ==
        kSuccess) {
      started_ = true;
      return true;
    }
  }
  return false;
}

}  // namespace quorvane
