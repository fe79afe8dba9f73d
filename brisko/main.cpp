// brisko: clears every entry of the paging device's table memory and checks
// every entry afterwards.
#include "console/device_run.h"
#include "console/process.h"
#include "run.h"
#include "serial_link/run_options.h"

namespace {

constexpr char kUsage[] =
    "Usage: brisko [--port PORT] [--log FILE]\n"
    "\n"
    "ERASES the paging device's whole table memory: asks the device how many\n"
    "tables it has and how many entries each holds, clears every entry, then\n"
    "checks every entry and reports how many did not clear. The device is\n"
    "found by sending the sync byte FF to each serial port in turn.\n"
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
    "The console window's title shows the time left while the run goes on.\n"
    "Ctrl+C during a run stops it after the command in flight.\n"
    "Full manual: man brisko\n";

}  // namespace

int main(int argc, char* argv[]) {
    open_standard_streams();
    RunOptions options;
    const int early = read_run_options(argc, argv, "brisko", kUsage, &options);
    if (early >= 0) {
        return early;
    }
    install_interrupt_handlers();
    begin_device_run("brisko", "erasing the paging device's table memory");
    const int status = run_brisko(options);
    end_if_interrupted();
    end_device_run();
    return finish_run(status);
}
