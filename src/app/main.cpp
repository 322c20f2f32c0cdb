#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/process.h"

#ifdef REVUZADA_HAVE_GUI
#include "gui/desktop.h"
#endif

int main(int argc, char** argv) {
    using namespace revuzada;
    const std::string program = argc > 0 ? argv[0] : "revuzada";
    auto parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.c_str(), parsed.error.c_str(),
                     program.c_str());
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(UsageText(program).c_str(), stdout);
        return 0;
    }

    PrepareProcessSignals();
    CRevuzadaApp app(*parsed.options);
    int status = 0;
#ifdef REVUZADA_HAVE_GUI
    if (!app.options().headless && DesktopAvailable()) {
        status = RunDesktop(app, argc, argv);
        EndProcess(status);
    }
#endif
    if (!app.options().headless)
        std::fprintf(stderr, "%s: no desktop available, running headless\n", program.c_str());
    if (app.InitInstance()) status = RunHeadless(app);
    // Transfers may still be running: end without tearing down what they use.
    EndProcess(status);
}
