// vantel: stores the three settings from "config.txt" in the paging device
// and reads each one back.
#include "console/device_run.h"
#include "console/process.h"
#include "run.h"

namespace {

constexpr char kUsage[] =
    "Usage: vantel\n"
    "\n"
    "Stores the three settings in config.txt (pager, table, pager_to_table) in\n"
    "the paging device and reads each one back. This changes the device's\n"
    "settings. The device is found by sending the sync byte FF to each serial\n"
    "port in turn; config.txt is read from the current directory.\n"
    "\n"
    "  -h, --help, -?, /?  show this text and exit; no port is touched\n"
    "  --version           show the version and exit\n"
    "\n"
    "Ctrl+C during a run stops it after the command in flight.\n"
    "Full manual: man vantel\n";

}  // namespace

int main(int argc, char* argv[]) {
    open_standard_streams();
    if (answer_help_or_version(argc, argv, "vantel", kUsage)) {
        return 0;
    }
    install_interrupt_handlers();
    begin_device_run("vantel", "writing the paging device's settings");
    const int status = run_vantel();
    end_if_interrupted();
    end_device_run();
    return status;
}
