"""What a start of a program showed and did: the install calls read from
Wine's trace (in the form of each Wine generation), the helper's report of
the run, and the calls that the stand-ins answered themselves."""

import re


def dbgstr(text):
    """A string as Wine's traces print it (wine_dbgstr_w)."""
    escapes = {"\n": "\\n", "\r": "\\r", "\t": "\\t", '"': '\\"', "\\": "\\\\"}
    units = text.encode("utf-16-le")
    out = []
    for i in range(0, len(units), 2):
        unit = int.from_bytes(units[i:i + 2], "little")
        char = chr(unit)
        if char in escapes:
            out.append(escapes[char])
        elif unit < 0x20 or unit >= 0x7F:
            out.append("\\%04x" % unit)
        else:
            out.append(char)
    return 'L"' + "".join(out) + '"'


def unescape(value):
    out, i = [], 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            out.append({"n": "\n", "t": "\t"}.get(value[i + 1], value[i + 1]))
            i += 2
        else:
            out.append(value[i])
            i += 1
    return "".join(out)


class TraceFormatError(Exception):
    """A trace line of an install call in a form the sandbox does not know."""


# The install calls, and how each Wine generation traces their arguments: one
# pattern per form, with {S} a string, {P} a pointer, {N} a number (decimal,
# or hex with 0x). A trace line of these functions that fits no form, and is
# none of their notes, stops the run: a call must never pass unseen.
INSTALL_CALLS = {
    "SetupCopyOEMInfW": [
        # Wine 8
        "(?P<source>{S}), (?P<location>{S}), (?P<media_type>{N}), (?P<style>{N}), "
        "(?P<dest>{P}), (?P<buffer_size>{N}), (?P<required_size>{P}), (?P<filepart>{P})",
        # Wine 10
        "source (?P<source>{S}), location (?P<location>{S}), media_type (?P<media_type>{N}), "
        "style (?P<style>{N}), dest (?P<dest>{P}), buffer_size (?P<buffer_size>{N}), "
        r"required_size (?P<required_size>{P}), filepart (?P<filepart>{P})\.",
    ],
    "UpdateDriverForPlugAndPlayDevicesW": [
        # Wine 8 and Wine 10
        "parent (?P<parent>{P}), hardware_id (?P<hardware_id>{S}), inf_path (?P<inf_path>{S}), "
        r"flags (?P<flags>{N}), reboot (?P<reboot>{P})\.",
    ],
}
# What the calls trace besides their arguments.
INSTALL_CALL_NOTES = {
    "SetupCopyOEMInfW": [r"Found existing INF {S}\.", r"installing catalog file {S}"],
    "UpdateDriverForPlugAndPlayDevicesW": [],
}
_TOKENS = {"S": r'(?:L"(?:[^"\\]|\\.)*"|\(null\))', "P": "[0-9A-F]{8}(?:[0-9A-F]{8})?",
           "N": "(?:0x[0-9a-f]+|[0-9]+)"}


def _compile(form):
    """The pattern of a form, and the kind of each of its arguments."""
    kinds = dict(re.findall(r"\(\?P<(\w+)>\{(\w)\}\)", form))
    return re.compile(form.format(**_TOKENS) + "$"), kinds


_CALL_FORMS = {f: [_compile(form) for form in forms] for f, forms in INSTALL_CALLS.items()}
_NOTE_FORMS = {f: [_compile(form)[0] for form in forms] for f, forms in INSTALL_CALL_NOTES.items()}
_TRACE_LINE = re.compile(r"(?:^|:)trace:\w+:(%s) (.*)$" % "|".join(INSTALL_CALLS))


def undbgstr(text):
    """The string that Wine's traces print as text (wine_dbgstr_w), or None."""
    if text == "(null)":
        return None
    out, body, i = [], text[2:-1], 0
    while i < len(body):
        if body[i] != "\\":
            out.append(body[i])
            i += 1
        elif body[i + 1] in "nrt\"\\":
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(body[i + 1], body[i + 1]))
            i += 2
        else:
            out.append(chr(int(body[i + 1:i + 5], 16)))
            i += 5
    return "".join(out)


def _argument(kind, text):
    if kind == "S":
        return undbgstr(text)
    # A pointer stays as printed: its digits tell a 32-bit caller from a 64-bit one.
    return text if kind == "P" else int(text, 0)


def install_calls(trace):
    """(function, {argument: value}) of every install call in a trace, in
    order: strings as text (None for null), numbers as numbers, pointers as
    Wine prints them. Raises TraceFormatError for a line it cannot read."""
    calls = []
    for line in trace.splitlines():
        found = _TRACE_LINE.search(line)
        if not found:
            continue
        function, rest = found.groups()
        parsed = [(p.match(rest), kinds) for p, kinds in _CALL_FORMS[function]]
        parsed = [(match, kinds) for match, kinds in parsed if match]
        if parsed:
            match, kinds = parsed[0]
            calls.append((function, {name: _argument(kinds[name], value)
                                     for name, value in match.groupdict().items()}))
        elif not any(p.match(rest) for p in _NOTE_FORMS[function]):
            raise TraceFormatError("a trace line of %s in a form this sandbox does not know: %s"
                                   % (function, line))
    return calls


class Run:
    """What one start of a program showed and did."""

    def __init__(self, report, trace, stdout, stderr, answered=None):
        """answered: the calls that the stand-ins answered themselves, by
        STAND_IN_RECORDS' names: lines of their arguments."""
        answered = answered or {}
        self.refused = answered.get("refused", [])
        self.no_device = answered.get("no_device", [])
        self.pending = answered.get("pending", [])
        self.boxes = []
        self.fields = {}
        for line in report.splitlines():
            key, _, value = line.partition("=")
            value = unescape(value)
            if key.startswith("box."):
                if key == "box.caption":
                    self.boxes.append({})
                self.boxes[-1][key[4:]] = value
            else:
                self.fields[key] = value
        self.exit_code = int(self.fields["exit"]) if self.fields.get("exit", "").isdigit() else None
        self.desktop = int(self.fields.get("desktop", "0x0"), 16)
        self.stdout = stdout
        self.stderr = stderr
        self.calls = install_calls(trace)

    def program_calls(self):
        """The calls the program made itself: the update call makes copy calls
        of its own, so copies after the first update are the platform's."""
        calls = []
        for function, arguments in self.calls:
            if function == "SetupCopyOEMInfW" and any(f != function for f, _ in calls):
                continue
            calls.append((function, arguments))
        return calls
