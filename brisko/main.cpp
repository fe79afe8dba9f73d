// brisko: clears every entry of the paging device's table memory and checks
// every entry afterwards.
#include "console/device_run.h"
#include "console/process.h"
#include "run.h"

namespace {

constexpr char kUsage[] =
    "Usage: brisko\n"
    "\n"
    "ERASES the paging device's whole table memory: asks the device how many\n"
    "tables it has and how many entries each holds, clears every entry, then\n"
    "checks every entry and reports how many did not clear. The device is\n"
    "found by sending the sync byte FF to each serial port in turn.\n"
    "\n"
    "  -h, --help, -?, /?  show this text and exit; no port is touched\n"
    "  --version           show the version and exit\n"
    "\n"
    "Ctrl+C during a run stops it after the command in flight.\n"
    "Full manual: man brisko\n";

}  // namespace

int main(int argc, char* argv[]) {
    open_standard_streams();
    if (answer_help_or_version(argc, argv, "brisko", kUsage)) {
        return 0;
    }
    install_interrupt_handlers();
    begin_device_run("brisko", "erasing the paging device's table memory");
    const int status = run_brisko();
    end_if_interrupted();
    end_device_run();
    return status;
}
