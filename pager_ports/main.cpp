// pager-ports: lists the serial ports in the order vantel and brisko try
// them, and says why each is or is not usable.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "console/process.h"
#include "survey.h"

namespace {

constexpr char kUsage[] =
    "Usage: pager-ports [--probe] [--port PORT] [--json]\n"
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
    "  --port PORT          list and probe this port alone, as vantel and brisko try\n"
    "                       it alone: COM<n>, or on POSIX systems a device path\n"
    "  --json               print the result as JSON, for scripts\n"
    "  -h, --help, -?, /?   show this text and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status: 0 when at least one port is usable, 1 when none is, 2 for a bad\n"
    "argument.\n"
    "Full manual: man pager-ports\n";

}  // namespace

int main(int argc, char* argv[]) {
    open_standard_streams();
    Option options[] = {{"--probe", nullptr}, {"--port", "PORT"}, {"--json", nullptr}};
    const CommandLine read = read_command_line(argc, argv, "pager-ports", kUsage, options);
    if (read != CommandLine::kRun) {
        return read == CommandLine::kAnswered ? 0 : kUsageStatus;
    }
    PortChoice choice;
    if (options[1].given != nullptr && !read_port_choice(options[1].given, &choice)) {
        print_usage_error("pager-ports", options, "--port names no port");
        return kUsageStatus;
    }
    const bool probe = options[0].given != nullptr;
    const bool json = options[2].given != nullptr;
    install_interrupt_handlers();

    const Survey survey = survey_ports(PortPaths{}, probe, choice);
    end_if_interrupted();

    const bool terminal = stdout_is_console();
    const bool colour = terminal && std::getenv("NO_COLOR") == nullptr;
    const std::string report = json ? survey_json(survey) : survey_text(survey, terminal, colour);
    put_text(report.c_str());
    return any_usable(survey) ? 0 : 1;
}
