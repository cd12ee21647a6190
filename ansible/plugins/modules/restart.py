# -*- coding: utf-8 -*-
# Restarts a machine's network interface through kelo-cli restart.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: restart
short_description: Restart a machine's network interface
description:
  - Restarts the machine's network interface with C(kelo-cli restart) (over SNMP). The
    machine is gone for a while after it.
  - Always C(changed). In check mode nothing is run.
version_added: 1.0.0
extends_documentation_fragment:
  - kelo.fleet.kelo_cli
  - kelo.fleet.kelo_cli.attributes
"""

EXAMPLES = r"""
- name: Restart the machines' network interfaces, two at a time
  kelo.fleet.restart:
    host: "{{ inventory_hostname }}"
  delegate_to: kelo-station
  throttle: 2
"""

RETURN = r"""
answered:
  description: Whether the machine answered the restart request. null in check mode.
  returned: always
  type: bool
ms:
  description: kelo-cli's run time in milliseconds; null in check mode.
  returned: always
  type: int
kelo:
  description: kelo-cli's JSON result line; null in check mode.
  returned: always
  type: dict
"""

from ansible_collections.kelo.fleet.plugins.module_utils.kelo_cli import (
    KeloCli, machine_module)


def main():
    module = machine_module()
    if module.check_mode:
        module.exit_json(changed=True, answered=None, ms=None, kelo=None)
    result = KeloCli(module).run("restart")
    module.exit_json(changed=True, answered=result["answered"], ms=result["ms"],
                     kelo=result["line"])


if __name__ == "__main__":
    main()
