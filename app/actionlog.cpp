// actionlog: the tool's work from a shell, over the same exchange controller,
// serial port component and export file as the window.

#include <clocale>
#include <cstdio>
#include <string_view>
#include <vector>

#include "ui/cli/CliCommands.h"
#include "ui/cli/CliOptions.h"

int main(int argc, char* argv[])
{
    // Text files use the locale's narrow encoding, as the window's do.
    std::setlocale(LC_ALL, "");
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    TCliOptions options;
    try {
        options = ParseCommandLine(args);
    } catch (const EUsage& e) {
        std::fprintf(stderr, "actionlog: %s (see actionlog --help)\n", e.what());
        return esUsage;
    }
    try {
        return RunCommand(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "actionlog: %s\n", e.what());
        return esPortFailed;
    }
}
