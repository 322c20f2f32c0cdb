#pragma once
// The windowed program: the main window with the log view over the services of the core.

#include <memory>
#include <string>

namespace revuzada {

class CRevuzadaApp;
class CMainFrame;

// Whether a desktop is reachable: QT_QPA_PLATFORM names a platform, or DISPLAY names an X
// display that answers (see DisplayReachable), or WAYLAND_DISPLAY is set.
bool DesktopAvailable();

// Whether the X display `display` can be reached. A local display (":N", ":N.S", "unix:N")
// must have a server listening on its socket in `socketDir` (or the abstract socket of the same
// name); a display on another host is taken to be reachable.
bool DisplayReachable(const std::string& display, const std::string& socketDir = "/tmp/.X11-unix");

// The main window with the log view, shown and titled. Needs a QApplication.
std::unique_ptr<CMainFrame> CreateMainWindow();

// Runs the program with its window: start-up, the window, the listeners, the event loop until
// the window is closed (or SIGINT or SIGTERM arrive, which close it), then shutdown: the view
// goes (its lines to the log file), then the listeners are stopped and waited for.
// SIGINT and SIGTERM must be blocked in every thread (PrepareProcessSignals). Returns the exit
// status.
int RunDesktop(CRevuzadaApp& app, int argc, char** argv);

}  // namespace revuzada
