# -*- coding: utf-8 -*-
# The options every kelo.fleet module that services one machine shares (kelo.fleet.kelo_cli),
# and the attributes and author of the modules that read in check mode as they would run and
# show no diff (kelo.fleet.kelo_cli.attributes).

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r"""
options:
  host:
    description:
      - The machine's host name or IPv4 address, as kelo-cli C(--host) takes it.
      - The service records know a machine by this name, so give each machine the same
        name every run (the inventory's C(inventory_hostname), say).
    type: str
    required: true
  type:
    description:
      - The machine type, 1 to 4. Without it kelo-cli takes the type of the Kelo profile
        of the user the task runs as.
    type: int
    choices: [1, 2, 3, 4]
  port:
    description:
      - The port kind. Without it kelo-cli takes the profile's; the network is what a
        fleet uses.
    type: str
    choices: [network, parallel, usb]
  kelo_cli:
    description:
      - The kelo-cli program to run, a path or a name looked up in C(PATH).
    type: path
    default: kelo-cli
  records:
    description:
      - The service records file (kelo-cli C(--records)). Without it kelo-cli keeps its
        default, C(~/.local/share/kelo/records.sqlite3) of the user the task runs as.
      - Modules that decide from the records (M(kelo.fleet.firmware),
        M(kelo.fleet.info)) must read the same file the operations were kept in.
    type: path
  timeout:
    description:
      - Seconds after which kelo-cli cancels the run as Ctrl-C would (C(--timeout));
        C(0) sets no bound.
    type: int
    default: 300
notes:
  - The module runs kelo-cli with C(--json) on the host the task runs on, the controller
    or a station that reaches the machines through C(delegate_to). It never speaks the
    machines' protocols itself.
requirements:
  - kelo-cli on the host the task runs on
"""

    ATTRIBUTES = r"""
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
author: Kelo Maintainers (@kelo)
"""
