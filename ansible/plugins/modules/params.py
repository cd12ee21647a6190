# -*- coding: utf-8 -*-
# Writes a parameter file into a machine through kelo-cli put-params, only when the machine
# holds another set.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: params
short_description: Write a parameter set into a machine when it holds another
description:
  - Writes the parameter file I(src) into the machine with
    C(kelo-cli put-params --if-changed). kelo-cli first reads the machine's set; when it is
    the file's set already, nothing is written and the task is not C(changed). Otherwise
    the set read is kept in the service records as the machine's backup, the file is
    written and the machine restarts.
  - Check mode runs C(put-params --check); the machine's set is read and compared, nothing
    is written.
  - Diff mode adds C(--diff) and shows the changed byte ranges, one line a range
    as kelo-cli compare writes them, the machine's bytes before and the file's after.
version_added: 1.0.0
extends_documentation_fragment:
  - kelo.fleet.kelo_cli
  - kelo.fleet.kelo_cli.attributes
# Unlike the others, this module shows what a write would change.
attributes:
  diff_mode:
    support: full
options:
  src:
    description:
      - The parameter file to write, on the host the task runs on.
    type: path
    required: true
  backup:
    description:
      - Keep the machine's set in the records as its backup before writing. C(false)
        passes C(--no-backup), and I(backup_record) is null.
    type: bool
    default: true
"""

EXAMPLES = r"""
- name: Give every machine of site A its parameter set
  kelo.fleet.params:
    host: "{{ inventory_hostname }}"
    type: 3
    src: /srv/kelo/params/site-a.prm
  delegate_to: kelo-station

- name: Nightly, say which machines drifted (run with --check --diff)
  kelo.fleet.params:
    host: "{{ inventory_hostname }}"
    src: /srv/kelo/params/site-a.prm
  delegate_to: kelo-station
"""

RETURN = r"""
result:
  description: kelo-cli's result, C(ok) when the file was written, C(unchanged) when the
    machine held its set already.
  returned: always
  type: str
  sample: unchanged
check:
  description: In check mode, what kelo-cli would do
    (C(would change 12 bytes in 3 ranges) or C(unchanged)).
  returned: check mode
  type: str
ranges:
  description: In diff mode, the changed byte ranges as kelo-cli gives them.
  returned: diff mode
  type: list
  elements: dict
  contains:
    offset:
      description: The first byte's offset in the set.
      type: int
    length:
      description: The number of bytes.
      type: int
    before:
      description: The machine's bytes, in hex.
      type: str
    after:
      description: The file's bytes, in hex.
      type: str
backup_record:
  description: The record id of the backup kept before the write; null when nothing was
    written or no backup was kept.
  returned: always
  type: int
  sample: 11
kelo:
  description: kelo-cli's JSON result line.
  returned: always
  type: dict
"""

import os
import time

from ansible_collections.kelo.fleet.plugins.module_utils.kelo_cli import (
    KeloCli, diff_of_ranges, existing_file, machine_module)


def backup_record(cli, result, started_ms):
    """The backup the write began with: kelo-cli's line names it, or else the newest backup
    of the machine the records kept since the run started."""
    if result["backup"] is not None:
        return int(result["backup"])
    for record in cli.history("--operation", "backup", "--result", "ok"):
        if record.get("started", 0) >= started_ms:
            return record.get("id")
        break
    return None


def main():
    module = machine_module(src=dict(type="path", required=True),
                            backup=dict(type="bool", default=True))
    src = existing_file(module, "src")
    cli = KeloCli(module)

    options = [src, "--if-changed"]
    if module.check_mode:
        options.append("--check")
    if module._diff:
        options.append("--diff")
    if not module.params["backup"]:
        options.append("--no-backup")
    started_ms = int(time.time() * 1000) - 1000
    result = cli.run("put-params", *options)

    changed = result["result"] != "unchanged"
    if module.check_mode and result["check"] is not None:
        changed = not str(result["check"]).startswith("unchanged")
    answer = dict(changed=changed, result=result["result"], kelo=result["line"],
                  backup_record=None)
    if module.check_mode:
        answer["check"] = result["check"]
    elif changed and module.params["backup"]:
        answer["backup_record"] = backup_record(cli, result, started_ms)
    if module._diff:
        answer["ranges"] = result["diff"]
        answer["diff"] = diff_of_ranges(result["diff"], os.path.basename(src))
    module.exit_json(**answer)


if __name__ == "__main__":
    main()
