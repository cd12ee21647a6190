# -*- coding: utf-8 -*-
# Runs kelo-cli with --json on the host the task runs on and reads its result line. The
# modules of kelo.fleet never speak to a machine themselves: everything goes through here.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

from ansible.module_utils.basic import AnsibleModule

# The options every module that services one machine takes. DOCUMENTATION shares them
# through the doc fragment kelo.fleet.kelo_cli.
COMMON_ARGUMENTS = dict(
    host=dict(type="str", required=True),
    type=dict(type="int", choices=[1, 2, 3, 4]),
    port=dict(type="str", choices=["network", "parallel", "usb"]),
    kelo_cli=dict(type="path", default="kelo-cli"),
    records=dict(type="path"),
    timeout=dict(type="int", default=300),
)

# The results a run may end with that are no failure: "unchanged" when a write found the
# machine already holding what it would write, "skipped" when a host list left the host out.
GOOD_RESULTS = ("ok", "unchanged", "skipped")


def machine_module(**options):
    """The module of one machine: the common options and the module's own, check mode
    supported."""
    return AnsibleModule(dict(COMMON_ARGUMENTS, **options), supports_check_mode=True)


def existing_file(module, option):
    """The file the option names, made absolute; fails the task when there is none."""
    path = os.path.abspath(module.params[option])
    if not os.path.isfile(path):
        module.fail_json(msg="%s: No such file" % path)
    return path


def parse_result_line(stdout):
    """The result line of a single-host kelo-cli --json run, with the fields the modules use.

    Returns None when standard output holds no result line (a usage error writes none).
    The fields of --check ("check", the text kelo-cli would otherwise say) and --diff
    ("diff", a list of {offset, length, before, after} with the bytes in hex) are read here
    alone, so that a change of their names touches this function only."""
    line = None
    for text in reversed(stdout.splitlines()):
        text = text.strip()
        if not text:
            continue
        try:
            parsed = json.loads(text)
        except ValueError:
            continue
        if isinstance(parsed, dict) and "result" in parsed:
            line = parsed
            break
    if line is None:
        return None
    ranges = []
    for piece in line.get("diff") or []:
        if not isinstance(piece, dict):
            continue
        ranges.append(dict(offset=int(piece.get("offset", 0)),
                           length=int(piece.get("length", 0)),
                           before=str(piece.get("before", "")),
                           after=str(piece.get("after", ""))))
    return dict(
        result=line.get("result"),
        message=line.get("message"),
        output=line.get("output"),
        bytes=line.get("bytes"),
        ms=line.get("ms"),
        answered=line.get("answered"),
        check=line.get("check"),
        diff=ranges,
        backup=line.get("backup"),
        line=line,
    )


def spaced_hex(text):
    """Hex digits as bytes apart: "0102ff" -> "01 02 ff"."""
    text = text.replace(" ", "").lower()
    return " ".join(text[at:at + 2] for at in range(0, len(text), 2))


def diff_of_ranges(ranges, label):
    """Ansible's diff form of changed byte ranges: one line a range on each side, the way
    kelo-cli compare writes them ("0x0000a0: 01 02")."""
    before = "".join("0x%06x: %s\n" % (r["offset"], spaced_hex(r["before"])) for r in ranges)
    after = "".join("0x%06x: %s\n" % (r["offset"], spaced_hex(r["after"])) for r in ranges)
    return dict(before=before, after=after, before_header="%s (machine)" % label,
                after_header="%s (file)" % label)


class KeloCli:
    """kelo-cli as the module's parameters set it up for one machine."""

    def __init__(self, module):
        self.module = module
        self.params = module.params

    def _program(self):
        found = self.module.get_bin_path(self.params["kelo_cli"], required=False)
        if not found:
            self.module.fail_json(msg="%s not found on this host; install kelo-cli or set "
                                      "kelo_cli" % self.params["kelo_cli"])
        return found

    def _records_options(self):
        records = self.params.get("records")
        return ["--records", records] if records else []

    def machine_argv(self, command, *arguments):
        """kelo-cli's command line for one run on the module's machine."""
        argv = [self._program(), "--no-progress", "--json", "--host", self.params["host"]]
        if self.params.get("type"):
            argv += ["--type", str(self.params["type"])]
        if self.params.get("port"):
            argv += ["--port", self.params["port"]]
        if self.params.get("timeout") is not None:
            argv += ["--timeout", str(self.params["timeout"])]
        return argv + self._records_options() + [command] + list(arguments)

    def run(self, command, *arguments):
        """Runs one command on the machine; fails the task unless its result is a good one.
        Returns the parsed result line, with "argv" and "stderr" added."""
        argv = self.machine_argv(command, *arguments)
        rc, stdout, stderr = self.module.run_command(argv)
        result = parse_result_line(stdout)
        if result is None or result["result"] not in GOOD_RESULTS:
            self.fail(argv, rc, stdout, stderr, result)
        result["argv"] = argv
        result["stderr"] = stderr
        return result

    def fail(self, argv, rc, stdout, stderr, result):
        if result is not None and result.get("message"):
            message = result["message"]
        else:
            lines = [text for text in stderr.splitlines() if text.strip()]
            message = lines[-1] if lines else "kelo-cli ended with status %d" % rc
        self.module.fail_json(msg=message, rc=rc, cmd=argv, stdout=stdout, stderr=stderr,
                              kelo=result["line"] if result else None)

    def lines(self, *arguments):
        """Runs a command that reads no machine (history, discover) and returns its JSON
        lines. No records yet is no failure: history then lists nothing. A discover run here
        only looks, so it keeps no records."""
        if arguments[0] == "discover":
            argv = [self._program(), "--no-records"] + list(arguments)
        else:
            argv = [self._program()] + self._records_options() + list(arguments)
        rc, stdout, stderr = self.module.run_command(argv)
        if rc not in (0, 1) or (rc == 1 and arguments[0] != "discover"):
            self.module.fail_json(msg=stderr.strip() or "kelo-cli ended with status %d" % rc,
                                  rc=rc, cmd=argv, stdout=stdout, stderr=stderr)
        objects = []
        for text in stdout.splitlines():
            text = text.strip()
            if text:
                try:
                    parsed = json.loads(text)
                except ValueError:
                    continue
                if isinstance(parsed, dict):
                    objects.append(parsed)
        return objects

    def history(self, *filters):
        """The machine's records, newest first, as kelo-cli history --json lists them."""
        return self.lines("history", self.params["host"], "--json", *filters)
