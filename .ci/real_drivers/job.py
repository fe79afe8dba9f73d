"""The real-driver job on the host, started by .ci/real-drivers once it has
built the programs, the guest's kernel and its initramfs.

It shows: complete vantel and brisko runs on COM1, COM33 and COM65 with
their exact output and the exact bytes on the line, each port's settings
and driver flags put back as they were, the FTDI driver in low-latency mode
during a run, pager-ports reading its latency timer, ttyS nodes without a
UART never opened, what a silent UART costs discovery, and that pulling the
USB adapter, or the device's USB cable, part way through a brisko erase ends
the run at once with the lost-line message."""

import argparse
import sys
import time

import checks as check
from expect import Checks, check_builders
from machine import Device, JobError, Machine, kvm_works, now_ms

# ASYNC_LOW_LATENCY among the flags that TIOCGSERIAL reads.
LOW_LATENCY = 0x2000


class Job:
    """The guest, its devices (name: Device), the ports the guest has now and
    the checks' tally."""

    def __init__(self, machine, devices):
        self.machine = machine
        self.devices = devices
        self.present = ["ttyS0", "ttyS1", "ttyUSB0", "ttyACM0"]
        self.checks = Checks()


def start_devices(devsim, logs):
    """The three devices; one entry of each never clears, so that the check
    pass has something to find."""
    devices = {"com1": Device(devsim, logs, "com1", "--uncleared", "2:1"),
               "usb": Device(devsim, logs, "usb", "--uncleared", "1:2"),
               "acm": Device(devsim, logs, "acm", "--uncleared", "2:0")}
    print(f"COM1's device on {devices['com1'].pty()}, the USB adapter's on"
          f" {devices['usb'].pty()}, the USB device's on {devices['acm'].pty()}")
    return devices


def the_ports(job):
    """The nodes the job needs, the relay behind the USB gadget, and the
    watch on the ttyS nodes. Gives the ttyS nodes of type 0."""
    machine = job.machine
    machine.must("wait_node ttyUSB0 30", "the FTDI adapter did not come up as ttyUSB0")
    machine.must("wait_node ttyACM0 30", "the USB gadget did not come up as ttyACM0")
    machine.must("gadget_relay acm", "cannot relay the gadget's line")
    typeless = check.check_ports(job)
    check.check_latency_timers(job)
    machine.must("watch_opens ttyS0 ttyS1 " + " ".join(typeless),
                 "cannot watch the ports for opens")
    return typeless


def shown(flags):
    return "none" if flags is None else f"{flags:#x}"


def unplug_ftdi(job):
    """The FTDI adapter pulled during a brisko erase, its driver in
    low-latency mode while the run holds it: the flags as found, plus
    ASYNC_LOW_LATENCY. That they are put back is in each run's settings
    check."""
    machine = job.machine
    before = machine.serial_flags("ttyUSB0")
    during = []

    def pull(label):
        machine.guest(f"mark {label}")
        pulled = now_ms()
        machine.qmp("device_del", id="ftdi")
        return pulled

    figures = check.unplug(job, "unplug-com33", job.devices["usb"], 33, pull,
                           lambda: during.append(machine.serial_flags("ttyUSB0")))
    flags = shown(before), shown(during[0])
    print(f"ttyUSB0's driver flags: {flags[0]} after the runs before, {flags[1]} during this one")
    if before is not None and not before & LOW_LATENCY and during[0] == before | LOW_LATENCY:
        job.checks.ok(f"COM33: ftdi_sio in low-latency mode during the run ({flags[1]}),"
                      " its other flags kept")
    else:
        job.checks.bad(f"COM33: ttyUSB0's flags {flags[1]} during the run, {flags[0]} before")
    machine.must("wait_gone ttyUSB0 10", "ttyUSB0 is still there after the pull")
    job.present.remove("ttyUSB0")
    return figures, flags


def unplug_gadget(job):
    """The USB device disconnected from its bus during a brisko erase."""
    machine = job.machine

    def pull(label):
        pulled = now_ms()
        machine.guest(f"unplug_gadget {label}")
        return pulled

    figures = check.unplug(job, "unplug-com65", job.devices["acm"], 65, pull)
    machine.must("wait_gone ttyACM0 10", "ttyACM0 is still there after the disconnect")
    job.present.remove("ttyACM0")
    return figures


def the_job(job, step):
    machine, devices = job.machine, job.devices
    step("ports")
    typeless = the_ports(job)

    step("COM1: vantel, then brisko, on the 16550A (ttyS0)")
    check.vantel_complete(job, 1, devices["com1"], "10 2 3")
    check.brisko_complete(job, 1, devices["com1"], (2, 1))
    # The device's cable moves from COM1 to the USB adapter: COM1 is left
    # with nothing attached, like COM2.
    machine.qmp("chardev-change", id="com1", backend={"type": "null", "data": {}})
    devices["com1"].stop()

    step("COM33: brisko, then vantel, on the FTDI adapter (ttyUSB0)")
    run = check.brisko_complete(job, 33, devices["usb"], (1, 2))
    tried = run.opens.get("ttyS0", 0), run.opens.get("ttyS1", 0)
    job.checks.check(tried == (1, 1),
                     "brisko on COM33: COM1 and COM2, silent now, were tried on the way",
                     f"COM1 opened {tried[0]} times, COM2 {tried[1]} times, expected once each")
    # A larger table memory for the unplugs: 40 tables of 250 entries.
    check.vantel_complete(job, 33, devices["usb"], "10 40 250")

    step("unplug: the FTDI adapter pulled during a brisko erase")
    ftdi, flags = unplug_ftdi(job)

    step("COM65: brisko, then vantel, on the USB device (ttyACM0)")
    check.brisko_complete(job, 65, devices["acm"], (2, 0))
    check.vantel_complete(job, 65, devices["acm"], "10 40 250")

    step("unplug: the USB device disconnected during a brisko erase")
    gadget = unplug_gadget(job)

    step("no device: discovery over the two silent 16550As")
    silent, probes = check.silent_uarts(job)

    if typeless:
        step("ttyS nodes of type 0")
        check.typeless_never_opened(job, typeless)
    return [f"unplug COM33: pull to exit {ftdi[0]} ms (host), {ftdi[1]} ms (guest);"
            f" CPU {ftdi[2]} ms after the pull",
            f"unplug COM65: pull to exit {gadget[0]} ms (host), {gadget[1]} ms (guest);"
            f" CPU {gadget[2]} ms after the pull",
            f"COM33's driver flags: {flags[0]} after a run, {flags[1]} during one",
            f"a silent 16550A: {silent} ms (the least of {probes} probes)"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--kernel", required=True)
    parser.add_argument("--initrd", required=True)
    parser.add_argument("--devsim", required=True)
    parser.add_argument("--logs", required=True, help="where the run's logs are left")
    parser.add_argument("--started", type=float, default=0, help="seconds the job has run")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    started = time.monotonic() - args.started

    def step(title):
        print(f"\n== {title} ({time.monotonic() - started:.0f}s)")

    devices, machine = {}, None
    try:
        check_builders()
        step("accelerator")
        kvm = kvm_works(args.kernel, args.initrd, args.logs)
        accel = "kvm" if kvm else "tcg"
        step("devices")
        devices = start_devices(args.devsim, args.logs)
        step(f"boot ({accel})")
        machine = Machine(args.kernel, args.initrd, args.logs, kvm, devices)
        print(f"the guest is up after {machine.boot():.0f} ms")
        job = Job(machine, devices)
        figures = the_job(job, step)
        step("done")
        machine.power_off()
    except (JobError, ValueError) as error:
        print(f"FAIL: {error}\nThe logs are in {args.logs}.", file=sys.stderr)
        return 1
    finally:
        if machine:
            machine.power_off()
        for device in devices.values():
            device.stop()
    print(f"the job took {time.monotonic() - started:.0f} s ({accel})")
    print(*figures, sep="\n")
    print(f"real-drivers: {job.checks.passed} passed, {job.checks.failed} failed")
    return 0 if job.checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
