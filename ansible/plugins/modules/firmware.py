# -*- coding: utf-8 -*-
# Upgrades a machine's firmware through kelo-cli upgrade, unless the service records say
# the machine got this image last.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: firmware
short_description: Upgrade a machine's firmware unless it runs the image already
description:
  - Sends the firmware image I(src) to the machine with C(kelo-cli upgrade); the machine
    restarts.
  - The machine cannot be asked which image it runs, so the service records tell. The
    newest upgrade kept for I(host) (C(kelo-cli history HOST --operation upgrade)) decides;
    when it ended C(ok) with an image of the same SHA-256, nothing is sent and the task is
    not C(changed). When it did not end C(ok), the machine may hold part of an image, and
    I(src) is sent whatever it was.
  - The records are those of the user the task runs as on the host it runs on (or
    I(records)), and they know a machine by the I(host) it was given, so keep both the same
    from run to run. An upgrade made from elsewhere (another station, the window of Kelo on
    a laptop) is not seen.
  - Check mode runs C(upgrade --check) when the image would be sent; the image is checked
    and the machine reached, nothing is sent.
version_added: 1.0.0
extends_documentation_fragment:
  - kelo.fleet.kelo_cli
  - kelo.fleet.kelo_cli.attributes
options:
  src:
    description:
      - The firmware image, a file whose name ends in C(rfw), on the host the task runs on.
    type: path
    required: true
  force:
    description:
      - Send the image whatever the records say.
    type: bool
    default: false
"""

EXAMPLES = r"""
- name: Upgrade the firmware, one machine first, then five, then a fifth at a time
  hosts: printers
  gather_facts: false
  serial: [1, 5, "20%"]
  max_fail_percentage: 0
  tasks:
    - kelo.fleet.firmware:
        host: "{{ inventory_hostname }}"
        type: "{{ kelo_type }}"
        src: /srv/kelo/firmware/main-4.2.rfw
        timeout: 900
      delegate_to: kelo-station
"""

RETURN = r"""
sha256:
  description: The SHA-256 of I(src).
  returned: always
  type: str
record:
  description: The record id of the upgrade that sent the image; when nothing was sent, of
    the earlier upgrade that sent it already. null in check mode when it would be sent.
  returned: always
  type: int
bytes:
  description: The size of the image sent; null when nothing was sent.
  returned: always
  type: int
kelo:
  description: kelo-cli's JSON result line; null when kelo-cli upgrade was not run.
  returned: always
  type: dict
"""

import time

from ansible_collections.kelo.fleet.plugins.module_utils.kelo_cli import (
    KeloCli, existing_file, machine_module)


def image_sent(record):
    """The SHA-256 of the image an upgrade record sent, or None."""
    for item in record.get("files") or []:
        if item.get("role") == "input" and item.get("sha256"):
            return item["sha256"].lower()
    return None


def main():
    module = machine_module(src=dict(type="path", required=True),
                            force=dict(type="bool", default=False))
    src = existing_file(module, "src")
    sha256 = module.sha256(src)
    cli = KeloCli(module)

    if not module.params["force"]:
        upgrades = cli.history("--operation", "upgrade")
        newest = upgrades[0] if upgrades else None
        if newest and newest.get("result") == "ok" and image_sent(newest) == sha256:
            module.exit_json(changed=False, sha256=sha256, record=newest.get("id"),
                             bytes=None, kelo=None,
                             msg="the records say record %s sent this image" % newest.get("id"))

    if module.check_mode:
        result = cli.run("upgrade", src, "--check")
        module.exit_json(changed=True, sha256=sha256, record=None, bytes=None,
                         kelo=result["line"], check=result["check"])

    started_ms = int(time.time() * 1000) - 1000
    result = cli.run("upgrade", src)
    record = None
    for upgrade in cli.history("--operation", "upgrade"):
        if upgrade.get("started", 0) >= started_ms and image_sent(upgrade) == sha256:
            record = upgrade.get("id")
        break
    module.exit_json(changed=True, sha256=sha256, record=record, bytes=result["bytes"],
                     kelo=result["line"])


if __name__ == "__main__":
    main()
