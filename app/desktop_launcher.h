// Opening a saved file and showing it in its folder, without any shell in between.
#pragma once

#include <string>

#include "core/interfaces.h"

namespace velindra {

// Linux: the file opens through the desktop's standard opener (xdg-open); "show in folder"
// asks the file manager over D-Bus (org.freedesktop.FileManager1.ShowItems) and falls back to
// opening the containing folder when no file manager answers. Windows: the shell's own open
// operation (its "open with" choice when no program is associated with .torrent) and the
// select-in-folder call, falling back to opening the folder. Every path reaches the launched
// program as one argument, whatever it holds; nothing waits for the launched program. False
// when nothing could be started.
class DesktopLauncher : public Launcher {
  public:
    bool OpenFile(const std::string& path) override;
    bool RevealFile(const std::string& path) override;
    LaunchProblem lastProblem() const override { return problem_; }

  private:
    LaunchProblem problem_ = LaunchProblem::None;
};

// Whether this start has a desktop to show windows on: Windows always has; elsewhere a display
// (X11 or Wayland), or a platform the toolkit was told to use.
bool HasDisplay();

// The toolkit platform the program asks for unless told otherwise; null for the desktop's own
// choice.
const char* DefaultPlatform();

}  // namespace velindra
