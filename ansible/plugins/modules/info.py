# -*- coding: utf-8 -*-
# Tells what is known of a machine: whether it answers, its type and its newest records.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: info
short_description: Tell a machine's type, whether it answers and its newest records
description:
  - Asks the machine's address as C(kelo-cli discover --subnet ADDRESS/32 --json) does
    (an SNMP status request, connects to the packet ports), which tells whether it answers
    and which types it may be; then lists its newest service records with
    C(kelo-cli history HOST --json).
  - Reads only and keeps no records of its own; never C(changed), and the same in check mode.
version_added: 1.0.0
extends_documentation_fragment:
  - kelo.fleet.kelo_cli
  - kelo.fleet.kelo_cli.attributes
options:
  count:
    description:
      - How many of the newest records to return.
    type: int
    default: 10
  wait_ms:
    description:
      - How long discover awaits the machine's answers, in milliseconds.
    type: int
    default: 1500
"""

EXAMPLES = r"""
- name: Look at a machine
  kelo.fleet.info:
    host: "{{ inventory_hostname }}"
  delegate_to: kelo-station
  register: machine

- name: Say which machines do not answer
  ansible.builtin.debug:
    msg: "{{ inventory_hostname }} does not answer; last: {{ machine.records[:1] }}"
  when: not machine.reachable
"""

RETURN = r"""
address:
  description: The IPv4 address I(host) resolved to; null when it does not resolve.
  returned: always
  type: str
reachable:
  description: Whether the machine answered discover.
  returned: always
  type: bool
types:
  description: The machine types its answers fit (C([3]), C([4]), or C([1, 2]) for a
    machine found by its SNMP status); empty when it did not answer.
  returned: always
  type: list
  elements: int
type:
  description: The machine type when its answers name one alone, else I(type) when given.
  returned: always
  type: int
name:
  description: The machine's own name (sysName.0), when it gave one.
  returned: always
  type: str
description:
  description: The machine's description (sysDescr.0), when it gave one.
  returned: always
  type: str
records:
  description: The newest I(count) records of I(host), newest first, as
    C(kelo-cli history --json) gives them (id, started, operation, result, message, files).
  returned: always
  type: list
  elements: dict
newest:
  description: Of each operation among I(records), its newest record.
  returned: always
  type: dict
"""

import socket

from ansible_collections.kelo.fleet.plugins.module_utils.kelo_cli import (
    KeloCli, machine_module)


def main():
    module = machine_module(count=dict(type="int", default=10),
                            wait_ms=dict(type="int", default=1500))
    cli = KeloCli(module)
    host = module.params["host"]

    try:
        address = socket.gethostbyname(host)
    except (socket.error, UnicodeError):
        address = None
    found = None
    if address:
        for machine in cli.lines("discover", "--subnet", address + "/32", "--timeout",
                                 str(module.params["wait_ms"]), "--json"):
            if machine.get("address") == address:
                found = machine
    types = list(found.get("types") or []) if found else []
    machine_type = types[0] if len(types) == 1 else module.params.get("type")

    records = cli.history()[:max(module.params["count"], 0)]
    newest = {}
    for record in records:
        newest.setdefault(record.get("operation"), record)
    module.exit_json(changed=False, address=address, reachable=found is not None,
                     types=types, type=machine_type,
                     name=(found or {}).get("name"), description=(found or {}).get("description"),
                     records=records, newest=newest)


if __name__ == "__main__":
    main()
