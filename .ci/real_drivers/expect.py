"""What the real-driver job expects: the programs' output from the shared
transcripts (tests/transcripts), the bytes of a run on the line, and the
checks' tally."""

import os
import re

TRANSCRIPTS = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "transcripts")


class Checks:
    """The job's own checks: each prints one line, and the job fails at the
    end when any of them did."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def ok(self, text):
        self.passed += 1
        print("ok    " + text)

    def bad(self, text, *details):
        self.failed += 1
        print("FAIL  " + text)
        for line in details:
            print("      " + line)

    def check(self, good, text, *details):
        """ok(text) when `good`, else bad(text, *details)."""
        if good:
            self.ok(text)
        else:
            self.bad(text, *details)


def visible(text):
    return repr(text)


# --- output --------------------------------------------------------------

def transcript(name, port=33):
    """tests/transcripts/NAME.out, the device found on COM<port>."""
    with open(os.path.join(TRANSCRIPTS, name + ".out"), newline="") as out:
        return out.read().replace("found on COM33 ok.", f"found on COM{port} ok.", 1)


def brisko_output(port, uncleared):
    """brisko's output on the default device (2 tables of 3 entries) when
    entry T:E (`uncleared`) does not clear: its check shows "e", and the
    error count is 1."""
    table, entry = uncleared
    marks = "".join("e" if (t, e) == (table, entry) else "." for t in (1, 2) for e in range(3))
    complete = transcript("brisko-complete", port)
    if "Verify......\nError   0 " not in complete:
        raise ValueError("brisko-complete.out has no verify line of 6 entries")
    return complete.replace("Verify......\nError   0 ", f"Verify{marks}\nError   1 ")


def fold_dots(text):
    """`text` with the discovery dots after "Wait sync ..." replaced by
    "<dots>", and their number; (None, 0) unless there are 1 to 20. An echo
    that a loaded machine saw too late costs a dot and nothing else."""
    match = re.match(r"([^W]*Wait sync \.\.\.)(\.*)(.*)\Z", text, re.S)
    if not match or not 1 <= len(match.group(2)) <= 20:
        return None, 0
    return match.group(1) + "<dots>" + match.group(3), len(match.group(2))


def expect_output(checks, label, got, want):
    """`got` must be `want`, but for 1 to 20 discovery dots."""
    got_folded, dots = fold_dots(got)
    want_folded, _ = fold_dots(want)
    if got_folded is not None and got_folded == want_folded:
        checks.ok(f"{label}: output exact ({dots} sync dots)")
    else:
        checks.bad(f"{label}: output differs", "got:  " + visible(got),
                   "want: " + visible(want) + " (1 to 20 sync dots)")


# --- bytes on the line -----------------------------------------------------

def rx(byte):
    return ("rx", f"{byte:02X}")


def tx(byte):
    return ("tx", f"{byte:02X}")


def sync():
    """Discovery that finds the device: 20 syncs, each echoed."""
    return [rx(0xFF), tx(0xFF)] * 20


def geometry(pager, tables, entries):
    """The three queries of the device's geometry, answered."""
    return [rx(0xF6), tx(pager), rx(0xF8), tx(tables), rx(0xFA), tx(entries)]


def clears(tables, entries, count=None):
    """The erase over TABLES of ENTRIES; only its first `count` clears when
    given."""
    wire = []
    for table in range(1, tables + 1):
        for entry in range(entries):
            wire += [rx(0xF0), rx(table), rx(entry), rx(0x00)]
    return wire if count is None else wire[:4 * count]


def checks_wire(tables, entries, uncleared):
    """The check pass, where entry `uncleared` (table, entry) is not clear."""
    wire = []
    for table in range(1, tables + 1):
        for entry in range(entries):
            wire += [rx(0xF1), rx(table), rx(entry), tx(1 if (table, entry) == uncleared else 0)]
    return wire


def vantel_wire(pager, tables, entries):
    """A whole vantel run with config.txt "PAGER TABLES ENTRIES"."""
    setters = [rx(0xF5), rx(pager), rx(0xF7), rx(tables), rx(0xF9), rx(entries)]
    return sync() + setters + geometry(pager, tables, entries)


def brisko_wire(pager, tables, entries, uncleared):
    return (sync() + geometry(pager, tables, entries) + clears(tables, entries)
            + checks_wire(tables, entries, uncleared))


def direction(wire, which):
    return [byte for way, byte in wire if way == which]


def transcript_wire(name):
    """tests/transcripts/NAME.wire: the bytes the device receives."""
    with open(os.path.join(TRANSCRIPTS, name + ".wire")) as wire:
        return wire.read().split()


def check_builders():
    """The builders above against the shared transcripts of a complete run
    on the default device (pager 10, 2 tables of 3 entries): the bytes
    from the program must be the same."""
    for name, built in (("vantel-complete", vantel_wire(10, 2, 3)),
                        ("brisko-complete", brisko_wire(10, 2, 3, None))):
        if direction(built, "rx") != transcript_wire(name):
            raise ValueError(f"the bytes of a run built here are not those of {name}.wire")


def expect_wire(checks, label, got, want):
    """The bytes the program sent and those the device sent, each in order.
    How the two interleave depends on the latency of the line (a USB
    adapter may hand two syncs over at once)."""
    fine = True
    for which, sender in (("rx", "program"), ("tx", "device")):
        got_bytes, want_bytes = direction(got, which), direction(want, which)
        if got_bytes != want_bytes:
            fine = False
            at = next((i for i, (a, b) in enumerate(zip(got_bytes, want_bytes)) if a != b),
                      min(len(got_bytes), len(want_bytes)))
            checks.bad(f"{label}: bytes from the {sender} differ from byte {at} on",
                       "got:  ..." + " ".join(got_bytes[at:at + 20]),
                       "want: ..." + " ".join(want_bytes[at:at + 20]))
    if fine:
        checks.ok(f"{label}: bytes on the line exact ({len(direction(want, 'rx'))} from the"
                  f" program, {len(direction(want, 'tx'))} from the device)")
