# -*- coding: utf-8 -*-
# Reads a machine's service report into a file through kelo-cli get-report.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: report
short_description: Read a machine's service report into a file
description:
  - Reads the machine's service report with C(kelo-cli get-report -o) into a file beside
    I(dest) and puts it in place of I(dest) only when it differs from what I(dest) holds.
  - The task is C(changed) only when the file at I(dest) changed. Reading the report changes
    nothing on the machine, so check mode reads it too and says whether I(dest) would change,
    without touching I(dest).
  - kelo-cli keeps the read in the service records, as every run of it.
version_added: 1.0.0
extends_documentation_fragment:
  - kelo.fleet.kelo_cli
  - kelo.fleet.kelo_cli.attributes
options:
  dest:
    description:
      - The file to write. A name ending in C(kel) is saved as a scrambled report file, one
        ending in C(txt) as text; kelo-cli refuses any other name.
      - Its folder must exist.
    type: path
    required: true
"""

EXAMPLES = r"""
- name: Keep each machine's report on the service station
  kelo.fleet.report:
    host: "{{ inventory_hostname }}"
    type: 3
    dest: "/srv/kelo/reports/{{ inventory_hostname }}.kel"
  delegate_to: kelo-station
"""

RETURN = r"""
dest:
  description: The file written, made absolute.
  returned: always
  type: str
  sample: /srv/kelo/reports/10.1.2.3.kel
bytes:
  description: The size of the report the machine gave.
  returned: always
  type: int
  sample: 4713
ms:
  description: kelo-cli's run time in milliseconds.
  returned: always
  type: int
  sample: 41
sha256:
  description: The SHA-256 of the file as read (the file at I(dest) unless in check mode).
  returned: always
  type: str
kelo:
  description: kelo-cli's JSON result line.
  returned: always
  type: dict
"""

import filecmp
import os
import shutil
import tempfile

from ansible_collections.kelo.fleet.plugins.module_utils.kelo_cli import (
    KeloCli, machine_module)


def main():
    module = machine_module(dest=dict(type="path", required=True))
    dest = os.path.abspath(module.params["dest"])
    folder = os.path.dirname(dest)
    if not os.path.isdir(folder):
        module.fail_json(msg="%s: No such folder" % folder)

    # A folder of its own beside dest keeps the name's ending (which chooses the format) and
    # lets the finished file replace dest in one rename on the same file system.
    scratch = tempfile.mkdtemp(prefix=".kelo-report-", dir=folder)
    try:
        fresh = os.path.join(scratch, os.path.basename(dest))
        result = KeloCli(module).run("get-report", "-o", fresh)
        changed = not (os.path.isfile(dest) and filecmp.cmp(fresh, dest, shallow=False))
        sha256 = module.sha256(fresh)
        if changed and not module.check_mode:
            module.atomic_move(fresh, dest)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    module.exit_json(changed=changed, dest=dest, bytes=result["bytes"], ms=result["ms"],
                     sha256=sha256, kelo=result["line"])


if __name__ == "__main__":
    main()
