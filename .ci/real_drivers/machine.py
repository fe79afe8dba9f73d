"""The real-driver job's machinery: the devices that devsim plays on the host,
QEMU with its control channel (QMP), and the guest's command line on a
virtio console (tests/real_drivers/init)."""

import json
import os
import re
import select
import subprocess
import time
from dataclasses import dataclass, field


class JobError(Exception):
    """A failure after which the job cannot go on."""


def now_ms():
    return time.monotonic() * 1000


class LineReader:
    """Reads lines from a file descriptor, each within a time limit."""

    def __init__(self, fd):
        self.fd = fd
        self.buffer = b""

    def line(self, timeout):
        """The next line without its line end, or None when no whole line
        came within `timeout` seconds (what came of it is kept)."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                return None
            self.buffer += os.read(self.fd, 65536)
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.decode("latin-1")


class Device:
    """A device played by `devsim --serve` on a pseudo-terminal linked from
    LOGS/NAME; devsim logs every byte to LOGS/NAME.log, one a line:
    "<time> rx|tx <hex>" (rx: from the program, tx: from the device)."""

    def __init__(self, devsim, logs, name, *options):
        self.name = name
        self.link = os.path.join(logs, name)
        self.log = self.link + ".log"
        with open(self.link + ".pty", "w") as out, open(self.link + ".err", "w") as err:
            self.process = subprocess.Popen(
                [devsim, "--serve", "--link", self.link, "--log", self.log, *options],
                stdout=out, stderr=err)
        for _ in range(50):
            if os.path.islink(self.link):
                return
            time.sleep(0.1)
        with open(self.link + ".err") as err:
            raise JobError(f"devsim for {name} did not start: {err.read()}")

    def pty(self):
        with open(self.link + ".pty") as out:
            return out.read().strip()

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def _lines(self):
        try:
            with open(self.log) as log:
                return log.read().splitlines()
        except FileNotFoundError:
            return []

    def logged(self):
        """How many bytes the log holds: a mark for wire()."""
        return len(self._lines())

    def wire(self, since):
        """The bytes logged after mark `since`, as (direction, hex) pairs."""
        return [tuple(line.split()[1:3]) for line in self._lines()[since:]]

    def settle(self):
        """Waits until the log has not grown for 0.3 s (at most 3 s), so that
        the last bytes of a run are in it."""
        size = -1
        for _ in range(10):
            now = os.path.getsize(self.log) if os.path.exists(self.log) else 0
            if now == size:
                return
            size = now
            time.sleep(0.3)


def kvm_works(kernel, initrd, logs):
    """Whether a guest really boots under KVM: on some machines /dev/kvm is
    there but QEMU fails ("failed to set MSR 0x10a") or the guest never
    runs. The probe's init powers off as soon as it starts."""
    if not os.access("/dev/kvm", os.R_OK | os.W_OK):
        print("no usable /dev/kvm, using TCG")
        return False
    start = now_ms()
    with open(os.path.join(logs, "kvm-probe.log"), "w+") as log:
        try:
            status = subprocess.run(
                ["qemu-system-x86_64", "-accel", "kvm", "-cpu", "host", "-M", "pc", "-m", "256",
                 "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
                 "-kernel", kernel, "-initrd", initrd, "-append", "quiet panic=0 rdinit=/probe"],
                stdout=log, stderr=subprocess.STDOUT, timeout=30).returncode
        except subprocess.TimeoutExpired:
            status = "timeout"
        if status == 0:
            print(f"KVM works: a probe guest booted and powered off in {now_ms() - start:.0f} ms")
            return True
        log.seek(0)
        print("KVM does not work here, using TCG:")
        for line in log.read().splitlines()[:5]:
            print("  " + line)
        return False


@dataclass
class Reply:
    """What the guest answered to one command."""
    status: int
    lines: list

    def tagged(self, tag):
        """The words after `tag` of each line that starts with it."""
        return [line.split()[1:] for line in self.lines if line.split()[:1] == [tag]]


@dataclass
class Run:
    """A program's run in the guest, from guest_helper's report."""
    status: int = None          # the exit status, None when killed
    signal: int = None
    wall_ms: float = 0          # start to exit
    cpu_ms: float = 0
    mark_ms: float = -1         # when the run was marked (the pull), -1 if not
    mark_cpu_ms: float = -1     # the CPU time by then
    out: str = ""               # standard output, byte for byte
    wire: list = field(default_factory=list)    # the bytes on the device's line
    opens: dict = field(default_factory=dict)   # watched port: opens in the run
    held: dict = field(default_factory=dict)    # watched port: ms its last open lasted

    @staticmethod
    def from_reply(reply):
        run = Run()
        for words in reply.tagged("@@RESULT"):
            key, value = words
            setattr(run, key, int(value) if key in ("status", "signal") else float(value))
        for words in reply.tagged("@@OUT"):
            run.out = bytes.fromhex(words[0] if words else "").decode("latin-1")
        return run


class Machine:
    """The guest under QEMU, its ports wired to `devices` (name: Device)."""

    def __init__(self, kernel, initrd, logs, kvm, devices):
        self.logs = logs
        for name in ("ctl.in", "ctl.out", "qmp.in", "qmp.out"):
            os.mkfifo(os.path.join(logs, name))
        accel = ["-accel", "kvm", "-cpu", "host"] if kvm else ["-accel", "tcg"]
        path = {name: device.link for name, device in devices.items()}
        ctl, qmp = os.path.join(logs, "ctl"), os.path.join(logs, "qmp")
        self.started = now_ms()
        with open(os.path.join(logs, "qemu.log"), "w") as log:
            self.qemu = subprocess.Popen(
                ["qemu-system-x86_64", *accel, "-M", "pc", "-m", "256", "-smp", "1",
                 "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
                 "-kernel", kernel, "-initrd", initrd, "-append", "quiet panic=-1",
                 "-chardev", f"serial,id=com1,path={path['com1']}",
                 "-device", "isa-serial,chardev=com1,index=0",
                 "-chardev", "null,id=com2", "-device", "isa-serial,chardev=com2,index=1",
                 "-device", "qemu-xhci,id=xhci",
                 "-chardev", f"serial,id=usbline,path={path['usb']}",
                 "-device", "usb-serial,id=ftdi,bus=xhci.0,chardev=usbline",
                 "-device", "virtio-serial-pci",
                 "-chardev", f"pipe,id=ctl,path={ctl}", "-device", "virtconsole,chardev=ctl",
                 "-chardev", f"serial,id=acmline,path={path['acm']}",
                 "-device", "virtserialport,chardev=acmline,name=acm",
                 "-chardev", f"pipe,id=qmp,path={qmp}", "-mon", "chardev=qmp,mode=control"],
                stdout=log, stderr=subprocess.STDOUT)
        # Opened read-write, so that neither open waits for QEMU.
        self.ctl_in = os.open(ctl + ".in", os.O_RDWR)
        self.ctl_out = LineReader(os.open(ctl + ".out", os.O_RDWR))
        self.qmp_in = os.open(qmp + ".in", os.O_RDWR)
        self.qmp_out = LineReader(os.open(qmp + ".out", os.O_RDWR))
        self.guest_log = open(os.path.join(logs, "guest.log"), "a")
        self.qmp_log = open(os.path.join(logs, "qmp.log"), "a")

    def check_running(self):
        if self.qemu.poll() is not None:
            with open(os.path.join(self.logs, "qemu.log")) as log:
                raise JobError("QEMU has ended:\n" + log.read())

    def qmp(self, command, **arguments):
        """Runs one QMP command and gives its return value."""
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        os.write(self.qmp_in, (json.dumps(request) + "\n").encode())
        while (line := self.qmp_out.line(10)) is not None:
            print(line, file=self.qmp_log, flush=True)
            reply = json.loads(line)
            if "return" in reply:
                return reply["return"]
            if "error" in reply:
                raise JobError(f"QMP: {command}: {reply['error'].get('desc', reply)}")
        raise JobError(f"QMP: no reply to {command}")

    def boot(self):
        """Waits for QEMU's QMP greeting, then for the guest's @@READY, said
        once its modules are loaded and it listens."""
        line = self.qmp_out.line(30)
        if line is None or "QMP" not in json.loads(line):
            raise JobError("no QMP greeting from QEMU")
        self.qmp("qmp_capabilities")
        deadline = time.monotonic() + 180
        while True:
            if time.monotonic() > deadline:
                raise JobError("the guest did not come up within 180 s")
            line = self.ctl_out.line(1)
            if line is None:
                self.check_running()
            elif line.startswith("@@FAILED"):
                raise JobError("guest: " + line)
            elif line.startswith("@@READY"):
                return now_ms() - self.started

    def guest(self, command, timeout=60):
        """Runs `command` in the guest's shell and gives its Reply."""
        os.write(self.ctl_in, (command + "\n").encode())
        lines = []
        deadline = time.monotonic() + timeout
        while time.monotonic() <= deadline:
            line = self.ctl_out.line(1)
            if line is None:
                self.check_running()
            elif line.startswith("@@END "):
                print("> " + command, *lines, line, sep="\n", file=self.guest_log, flush=True)
                return Reply(int(line.split()[1]), lines)
            else:
                lines.append(line)
        print("> " + command, *lines, f"(no answer in {timeout} s)", sep="\n",
              file=self.guest_log, flush=True)
        raise JobError(f"the guest did not answer '{command}' within {timeout} s")

    def must(self, command, failure, timeout=60):
        """Runs `command` in the guest; ends the job with `failure` when its
        status is not 0."""
        reply = self.guest(command, timeout)
        if reply.status != 0:
            raise JobError(f"{failure}: {' '.join(reply.lines)}")
        return reply

    def serial_flags(self, name):
        """The flags TIOCGSERIAL reads from the driver of /dev/NAME, read by a
        second process while a run may hold the port; None without them."""
        words = self.guest(f"/bin/guest_helper serial-flags /dev/{name}").lines[-1].split()
        return None if words[-1] == "none" else int(words[-1], 16)

    def watched(self):
        """A mark in the guest's log of opens, for watched_since."""
        return int(self.guest("watched").tagged("@@WATCHED")[-1][0])

    def watched_since(self, mark):
        """The watched ports' opens and closes after `mark`, as (event, name,
        ms) triples."""
        return [(event, name, float(ms))
                for event, name, ms in self.guest(f"watched_since {mark}").tagged("@@WATCH")]

    def run(self, label, program, config=None, finish_timeout=60):
        """Starts /bin/PROGRAM in the guest (config.txt holding `config` when
        given) and gives its Run when it has ended."""
        self.must(f"start {label} {program}" + (f' "{config}"' if config else ""),
                  f"cannot start {program}")
        return self.finish(label, finish_timeout)

    def finish(self, label, timeout=60):
        return Run.from_reply(self.guest(f"finish {label}", timeout))

    def power_off(self):
        if self.qemu.poll() is None:
            os.write(self.ctl_in, b"poweroff -f\n")
            try:
                self.qemu.wait(5)
            except subprocess.TimeoutExpired:
                self.qemu.kill()
                self.qemu.wait()


def port_order(name):
    """Sorts ttyS2 before ttyS10."""
    return [int(part) if part.isdigit() else part for part in re.split(r"(\d+)", name)]
