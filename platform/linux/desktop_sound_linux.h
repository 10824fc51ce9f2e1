#pragma once

#include <cstdint>
#include <string>

#include "ui/dialog_view.h"

namespace quorvane {

// The desktop's event sounds, from the freedesktop sound theme through libcanberra. The library is
// loaded the first time a sound is asked for and only then, so a run that makes no sound links
// and loads nothing for it.
class DesktopSound {
 public:
  explicit DesktopSound(std::string application_name)
      : application_name_(std::move(application_name)) {}
  // Lets a sound that is still playing finish, for a few seconds at most: the process ends right
  // after, and that would cut it off.
  ~DesktopSound();
  DesktopSound(const DesktopSound&) = delete;
  DesktopSound& operator=(const DesktopSound&) = delete;

  // Starts the theme's sound for `sound`; false when none could be started (no libcanberra, no
  // sound server, no such sound in the theme).
  bool Play(MessageIcon sound);

 private:
  bool Load();

  using Destroy = int (*)(void* context);
  using PlayEvent = int (*)(void* context, uint32_t id, ...);
  using Playing = int (*)(void* context, uint32_t id, int* playing);

  std::string application_name_;
  bool tried_ = false;
  void* context_ = nullptr;
  Destroy destroy_ = nullptr;
  PlayEvent play_ = nullptr;
  Playing playing_ = nullptr;
  bool started_ = false;
};

}  // namespace quorvane
