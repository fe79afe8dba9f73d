#include "serial_link/run_options.h"

#include <string>

#include "console/process.h"
#include "console/run_log.h"
#include "console/title.h"
#include "serial_link/serial_link.h"

int read_run_options(int argc, const char* const* argv, const char* program, const char* usage,
                     RunOptions* options) {
    Option known[] = {{"--port", "PORT"}, {"--log", "FILE"}};
    const CommandLine read = read_command_line(argc, argv, program, usage, known);
    if (read == CommandLine::kAnswered) {
        return 0;
    }
    if (read == CommandLine::kRefused) {
        return kUsageStatus;
    }
    const char* port = known[0].given;
    if (port != nullptr && !read_port_choice(port, &options->port)) {
        const std::string why = std::string("--port ") + port + " names no port (COM1 to COM255" +
                                (kPortPathsTaken ? ", or a device path)" : ")");
        print_usage_error(program, known, why.c_str());
        return kUsageStatus;
    }
    const char* log = known[1].given;
    if (log != nullptr && !run_log_open(log, program, argc, argv, steady_us)) {
        return 1;
    }
    return -1;
}

int finish_run(int status) {
    put_back_title();
    run_log_exit(status);
    return status;
}
