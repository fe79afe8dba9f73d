"""The real-driver job's checks, one function each. Each takes the Job (see
job.py): its guest, devices, the ports the guest has now and the tally."""

import json
import time

from expect import (brisko_output, brisko_wire, clears, direction, expect_output, expect_wire,
                    fold_dots, geometry, sync, transcript, vantel_wire, visible)
from machine import JobError, now_ms, port_order


def opens_and_holds(events):
    """From watched events: each port's number of opens, and how long, in
    ms, its last open lasted."""
    opens, held, since = {}, {}, {}
    for event, name, ms in events:
        if event == "open":
            opens[name] = opens.get(name, 0) + 1
            since[name] = ms
        elif event == "close" and name in since:
            held[name] = round(ms - since.pop(name))
    return opens, held


def run_program(job, label, device, program, config=None):
    """One run in the guest, after odd settings were put on every port, with
    the bytes on `device`'s line and the watched ports' opens."""
    machine = job.machine
    machine.must("stty_odd " + " ".join(job.present), "stty in the guest failed")
    watch_mark, log_mark = machine.watched(), device.logged()
    run = machine.run(label, program, config)
    device.settle()
    run.wire = device.wire(log_mark)
    run.opens, run.held = opens_and_holds(machine.watched_since(watch_mark))
    return run


def expect_status(job, label, run, want):
    if run.status == want:
        job.checks.ok(f"{label}: exit status {want} ({run.wall_ms:.1f} ms)")
    else:
        job.checks.bad(f"{label}: exit status {run.status}, signal {run.signal}, expected {want}")


def expect_settings(job, label):
    """Each port's `stty -a` and driver flags as before the run."""
    reply = job.machine.guest("stty_same " + " ".join(job.present))
    states = reply.tagged("@@STTY")
    ports = " ".join(job.present)
    job.checks.check(len(states) == len(job.present) and all(s[1] == "same" for s in states),
                     f"{label}: settings of {ports} as before (stty -a, TIOCGSERIAL flags)",
                     *reply.lines)


def vantel_complete(job, com, device, config):
    """A complete vantel run on COM<com> with config.txt `config`: status,
    output, bytes and settings."""
    label = f"vantel on COM{com}"
    run = run_program(job, f"vantel-com{com}", device, "vantel", config)
    expect_status(job, label, run, 0)
    expect_output(job.checks, label, run.out, transcript("vantel-complete", com))
    expect_wire(job.checks, label, run.wire, vantel_wire(*map(int, config.split())))
    expect_settings(job, label)


def brisko_complete(job, com, device, uncleared):
    """A complete brisko run on COM<com>, on a device of 2 tables of 3 entries
    whose entry `uncleared` (table, entry) never clears. Gives the Run."""
    label = f"brisko on COM{com}"
    run = run_program(job, f"brisko-com{com}", device, "brisko")
    expect_status(job, label, run, 0)
    expect_output(job.checks, label, run.out, brisko_output(com, uncleared))
    expect_wire(job.checks, label, run.wire, brisko_wire(10, 2, 3, uncleared))
    expect_settings(job, label)
    return run


def check_ports(job):
    """The guest's ports; gives the ttyS nodes without a UART (type 0)."""
    types = {words[0]: words[1] for words in job.machine.guest("ports").tagged("@@PORT")}
    for name in sorted(types, key=port_order):
        print(f"{name}: type {types[name]}")
    job.checks.check(types.get("ttyS0", "0") != "0" and types.get("ttyS1", "0") != "0"
                     and types.get("ttyUSB0") == "usb" and types.get("ttyACM0") == "acm",
                     f"the guest has ttyS0 and ttyS1 (16550A, type {types.get('ttyS0')}),"
                     " ttyUSB0 (ftdi_sio) and ttyACM0 (cdc_acm)", repr(types))
    typeless = sorted((name for name, kind in types.items() if kind == "0"), key=port_order)
    if typeless:
        print("ttyS nodes of type 0 (no UART behind them): " + " ".join(typeless))
    else:
        job.checks.bad("no ttyS node of type 0 to watch")
    return typeless


def check_latency_timers(job):
    """pager-ports reads FTDI's latency timer from ftdi_sio; cdc_acm has
    none. QEMU's FTDI chip starts at 0 ms: it is set to a real chip's
    default here, where the README tells users to set it."""
    job.machine.guest("echo 16 >/sys/bus/usb-serial/devices/ttyUSB0/latency_timer")
    reply = job.machine.guest("/bin/pager-ports --json")
    try:
        ports = json.loads("\n".join(reply.lines))["ports"]
        latency = {port["com"]: port["latency_ms"] for port in ports}
    except (ValueError, KeyError, TypeError):
        latency = {}
    job.checks.check(latency.get(33) == 16 and 65 in latency and latency[65] is None,
                     "pager-ports: COM33's FTDI latency timer 16 ms, none for COM65",
                     *reply.lines)


def clears_sent(wire):
    """How many whole clear commands (F0 T E 00) the program sent."""
    count, at = 0, 0
    while at + 4 <= len(wire):
        four = wire[at:at + 4]
        if four[0] == ("rx", "F0") and four[3] == ("rx", "00") and all(w == "rx" for w, _ in four):
            count, at = count + 1, at + 4
        else:
            at += 1
    return count


def unplug(job, label, device, com, pull, during=None):
    """A brisko run on COM<com> over 40 tables of 250 entries, whose device
    `pull` takes away part way through the erase; `during` runs just before
    the pull. Gives the figures: (host ms, guest ms, CPU ms after the pull)."""
    machine, checks = job.machine, job.checks
    machine.must("stty_odd " + " ".join(job.present), "stty in the guest failed")
    log_mark = device.logged()
    machine.must(f"start {label} brisko", "cannot start brisko")
    # Pull once the device has taken 20 clear commands.
    deadline = time.monotonic() + 60
    while device.wire(log_mark).count(("rx", "F0")) < 20:
        if time.monotonic() > deadline:
            raise JobError(f"{label}: brisko's erase did not start within 60 s")
        time.sleep(0.02)
    if during:
        during()
    # The guest marks the moment of the pull: its figures run from there.
    pull_ms = pull(label)
    run = machine.finish(label, 30)
    host_ms = round(now_ms() - pull_ms)
    device.settle()
    run.wire = device.wire(log_mark)
    guest_ms, cpu_after = round(run.wall_ms - run.mark_ms), round(run.cpu_ms - run.mark_cpu_ms)
    print(f"pull to exit: {host_ms} ms seen from the host (an upper bound),"
          f" {guest_ms} ms in the guest")
    print(f"brisko's CPU time: {cpu_after} ms from the pull to the exit,"
          f" {run.cpu_ms:.0f} ms in all")
    if run.mark_ms == -1:
        checks.bad(f"{label}: brisko ended before the pull")
    elif run.signal is not None:
        checks.bad(f"{label}: brisko did not end: still running 5 s after the pull, killed",
                   "(the lost-line handling of the exchange is missing; output held in its"
                   " buffer is lost)")
    else:
        expect_status(job, label, run, 1)
        if host_ms <= 2000:
            checks.ok(f"{label}: brisko ended {host_ms} ms after the pull (at most 2000)")
        else:
            checks.bad(f"{label}: brisko ended {host_ms} ms after the pull, more than 2000")
    # Not spinning: well under a quarter of the time after the pull on the CPU.
    used = f"{label}: brisko used {cpu_after} ms of CPU in the {guest_ms} ms after the pull"
    if cpu_after <= 50 or cpu_after <= guest_ms / 4:
        checks.ok(used)
    else:
        checks.bad(used + " (spinning)")
    # The bytes: those of a complete run up to the pull. A clear may be lost
    # on its way when the device goes.
    sent = clears_sent(run.wire)
    want = sync() + geometry(10, 40, 250) + clears(40, 250, sent + 1)
    got_rx, want_rx = direction(run.wire, "rx"), direction(want, "rx")
    checks.check(got_rx and want_rx[:len(got_rx)] == got_rx
                 and direction(run.wire, "tx") == direction(want, "tx"),
                 f"{label}: the bytes on the line are those of a complete run up to the pull"
                 f" ({len(got_rx)} from the program)",
                 "from the program: " + " ".join(got_rx[:50]) + "...",
                 "from the device: " + " ".join(direction(run.wire, "tx")[:50]) + "...")
    # The output: discovery, "Erase", one dot per clear that went out, the
    # message.
    complete = transcript("brisko-complete", com)
    head, _ = fold_dots(complete[:complete.index("\n\nErase") + len("\n\nErase")])
    end = "\nError: the line to the device was lost."
    after_erase = run.out.partition("\n\nErase")[2]
    erase_dots = len(after_erase) - len(after_erase.lstrip("."))
    print(f"clears on the line: {sent}, dots after Erase: {erase_dots}")
    folded, _ = fold_dots(run.out)
    if run.signal is not None:
        print("output not checked: brisko was killed")
    else:
        checks.check(folded is not None and folded == head + "." * erase_dots + end
                     and sent - 1 <= erase_dots <= sent + 1,
                     f"{label}: output exact, {erase_dots} dots for {sent} clears, then the"
                     " lost-line message", "got:  " + visible(run.out),
                     f"want: discovery, \\n\\nErase, a dot per clear sent, {visible(end)}")
    return host_ms, guest_ms, cpu_after


def silent_uarts(job):
    """What a silent port costs is how long discovery holds it open. Load
    on the machine only adds to that, so the least of three runs over both
    ports counts. Gives that least."""
    held = []
    for attempt in range(3):
        run = run_program(job, "no-device", job.devices["com1"], "vantel", "10 2 3")
        if attempt == 0:
            expect_status(job, "no device", run, 1)
            want = transcript("no-device")
            job.checks.check(run.out == want, "no device: output exact",
                             "got:  " + visible(run.out), "want: " + visible(want))
            expect_settings(job, "no device")
        for name in ("ttyS0", "ttyS1"):
            if run.opens.get(name) == 1 and name in run.held:
                held.append(run.held[name])
            else:
                job.checks.bad(f"no device: {name} opened {run.opens.get(name, 0)} times,"
                               " expected once")
    print("ttyS0 and ttyS1 held open for (ms): " + " ".join(map(str, held)))
    least = min(held, default=None)
    if least is not None and least <= 450:
        job.checks.ok(f"a silent UART costs {least} ms (at most 450)")
    else:
        job.checks.bad(f"a silent UART costs {least} ms, more than 450",
                       "(discovery still waits for each sync echo)")
    return least, len(held)


def typeless_never_opened(job, typeless):
    """No run opened a ttyS node of type 0, and the watch sees such an open."""
    opened = {name for event, name, _ in job.machine.watched_since(0) if event == "open"}
    for name in typeless:
        if name in opened:
            job.checks.bad(f"{name} (type 0) was opened")
    if not opened & set(typeless):
        job.checks.ok(f"no run opened {' '.join(typeless)} (type 0)")
    mark = job.machine.watched()
    job.machine.guest(f": </dev/{typeless[0]}")
    if ("open", typeless[0]) in [(e, n) for e, n, _ in job.machine.watched_since(mark)]:
        job.checks.ok(f"the watch sees an open of {typeless[0]} made on purpose")
    else:
        job.checks.bad(f"the watch missed an open of {typeless[0]}: the check above proves nothing")
