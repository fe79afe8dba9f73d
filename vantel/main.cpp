// vantel: stores the three settings from "config.txt" in the paging device
// and reads each one back.
#include "console/device_run.h"
#include "console/process.h"
#include "run.h"
#include "serial_link/run_options.h"

namespace {

constexpr char kUsage[] =
    "Usage: vantel [--port PORT] [--log FILE]\n"
    "\n"
    "Stores the three settings in config.txt (pager, table, pager_to_table) in\n"
    "the paging device and reads each one back. This changes the device's\n"
    "settings. The device is found by sending the sync byte FF to each serial\n"
    "port in turn; config.txt is read from the current directory.\n"
    "\n"
    "  --port PORT         use this port alone: COM<n>, or on Linux and other POSIX\n"
    "                      systems a device path such as /dev/ttyUSB0 or\n"
    "                      /dev/serial/by-id/...; a port that does not answer\n"
    "                      ends the run with \"error - not responding\"\n"
    "  --log FILE          append a record of the run to FILE: the port, every\n"
    "                      byte sent and received with its time, every message\n"
    "                      and the exit status\n"
    "  -h, --help, -?, /?  show this text and exit; no port is touched\n"
    "  --version           show the version and exit\n"
    "\n"
    "Any other argument is refused with exit status 2, and no port is touched.\n"
    "\n"
    "Ctrl+C during a run stops it after the command in flight.\n"
    "Full manual: man vantel\n";

}  // namespace

int main(int argc, char* argv[]) {
    open_standard_streams();
    RunOptions options;
    const int early = read_run_options(argc, argv, "vantel", kUsage, &options);
    if (early >= 0) {
        return early;
    }
    install_interrupt_handlers();
    begin_device_run("vantel", "writing the paging device's settings");
    const int status = run_vantel(options);
    end_if_interrupted();
    end_device_run();
    return finish_run(status);
}
