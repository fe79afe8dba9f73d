// pager-ports: lists the serial ports in the order vantel and brisko try
// them, and says why each is or is not usable.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console.h"
#include "console/process.h"
#include "survey.h"

namespace {

constexpr char kUsage[] =
    "Usage: pager-ports [--probe] [--json]\n"
    "\n"
    "Lists every serial port in the order vantel and brisko try them, with its COM\n"
    "number, device and state, whether this user can open it and, where not, why:\n"
    "the system's reason, or the program that holds it (flock, exclusive mode, a\n"
    "UUCP lock file, or simply open). Ends with hints for what it saw. Sends\n"
    "nothing to any port.\n"
    "\n"
    "  --probe              also send the sync byte FF to every usable port, as the\n"
    "                       programs do, count the echoes and name the port they\n"
    "                       would use\n"
    "  --json               print the result as JSON, for scripts\n"
    "  -h, --help, -?, /?   show this text and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status: 0 when at least one port is usable, 1 when none is, 2 for a bad\n"
    "argument.\n"
    "Full manual: man pager-ports\n";

constexpr int kUsageError = 2;

struct Options {
    bool probe = false;
    bool json = false;
};

// Reads the options after the first argument's help and version. Returns
// false, after a message on standard error, for an argument it does not know.
bool read_options(int argc, char* argv[], Options* options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--probe") == 0) {
            options->probe = true;
        } else if (std::strcmp(argv[i], "--json") == 0) {
            options->json = true;
        } else {
            std::fprintf(stderr, "pager-ports: unknown argument '%s'\nTry 'pager-ports --help'.\n",
                         argv[i]);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    open_standard_streams();
    if (answer_help_or_version(argc, argv, "pager-ports", kUsage)) {
        return 0;
    }
    Options options;
    if (!read_options(argc, argv, &options)) {
        return kUsageError;
    }
    install_interrupt_handlers();

    const Survey survey = survey_ports(PortPaths{}, options.probe);
    end_if_interrupted();

    const bool terminal = stdout_is_console();
    const bool colour = terminal && std::getenv("NO_COLOR") == nullptr;
    const std::string report =
        options.json ? survey_json(survey) : survey_text(survey, terminal, colour);
    put_text(report.c_str());
    return any_usable(survey) ? 0 : 1;
}
