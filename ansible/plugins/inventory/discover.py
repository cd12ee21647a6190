# -*- coding: utf-8 -*-
# An inventory of the machines kelo-cli discover finds, grouped by machine type.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
name: discover
short_description: The machines kelo-cli discover finds, grouped by type
description:
  - Runs C(kelo-cli discover --json) on the controller and makes a host of every machine it
    finds, named by its address.
  - Each machine goes into the group C(kelo_machines) and into C(kelo_type_N) when its
    answers name one type N (types 3 and 4, found by their packet ports), or
    C(kelo_type_1_or_2) when it answered the status request of types 1 and 2, which the
    network does not tell apart; give those their type in I(compose) or C(host_vars).
  - Host variables - C(kelo_address), C(kelo_types) (a list), C(kelo_type) (only when one
    type), C(kelo_name), C(kelo_description), C(kelo_status) (null when not answered).
  - The inventory file's name must end in C(kelo.yml) or C(kelo.yaml).
  - Reading the inventory keeps no service records (C(--no-records)), however often a play
    reads it.
version_added: 1.0.0
extends_documentation_fragment:
  - constructed
options:
  plugin:
    description: The name of this plugin.
    required: true
    choices: [kelo.fleet.discover]
    type: str
  subnets:
    description:
      - The IPv4 blocks to probe, each as kelo-cli C(discover --subnet) takes it
        (C(192.0.2.0/24), or one address). Without any, discover asks by broadcast on
        every local network.
    type: list
    elements: str
    default: []
  kelo_cli:
    description: The kelo-cli program to run on the controller.
    type: path
    default: kelo-cli
  timeout_ms:
    description: How long discover awaits answers, in milliseconds (its C(--timeout)).
    type: int
    default: 1500
  community:
    description: The SNMP community to ask with; discover's default when not set.
    type: str
  rate:
    description: How many new addresses discover starts a second; its default when not set.
    type: int
  local:
    description:
      - Set C(ansible_connection=local) on every machine, so that tasks on them run on the
        controller (the machines take no SSH). A C(delegate_to) still sends a task elsewhere.
    type: bool
    default: true
"""

EXAMPLES = r"""
# site-a.kelo.yml
plugin: kelo.fleet.discover
subnets:
  - 10.1.2.0/24
keyed_groups:
  - key: kelo_name | regex_replace('-.*', '')
    prefix: name
"""

import json
import subprocess

from ansible.errors import AnsibleParserError
from ansible.module_utils.common.process import get_bin_path
from ansible.module_utils.common.text.converters import to_native, to_text
from ansible.plugins.inventory import BaseInventoryPlugin, Constructable


class InventoryModule(BaseInventoryPlugin, Constructable):
    NAME = "kelo.fleet.discover"

    def verify_file(self, path):
        return super(InventoryModule, self).verify_file(path) and path.endswith(
            ("kelo.yml", "kelo.yaml"))

    def _discover(self):
        try:
            program = get_bin_path(self.get_option("kelo_cli"))
        except ValueError as error:
            raise AnsibleParserError(to_native(error))
        argv = [program, "--no-records", "discover", "--json", "--timeout", str(self.get_option("timeout_ms"))]
        for subnet in self.get_option("subnets"):
            argv += ["--subnet", subnet]
        if self.get_option("community") is not None:
            argv += ["--community", self.get_option("community")]
        if self.get_option("rate") is not None:
            argv += ["--rate", str(self.get_option("rate"))]
        run = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             stdin=subprocess.DEVNULL)
        # 0 machines found, 1 none found; anything else is trouble worth stopping for.
        if run.returncode not in (0, 1):
            raise AnsibleParserError("%s ended with status %d: %s" % (
                " ".join(argv), run.returncode, to_text(run.stderr, errors="replace").strip()))
        machines = []
        for line in to_text(run.stdout, errors="replace").splitlines():
            try:
                machine = json.loads(line)
            except ValueError:
                continue
            if isinstance(machine, dict) and machine.get("address"):
                machines.append(machine)
        return machines

    def parse(self, inventory, loader, path, cache=True):
        super(InventoryModule, self).parse(inventory, loader, path, cache)
        self._read_config_data(path)
        strict = self.get_option("strict")
        self.inventory.add_group("kelo_machines")
        for machine in self._discover():
            name = machine["address"]
            types = [t for t in machine.get("types") or [] if isinstance(t, int)]
            self.inventory.add_host(name, group="kelo_machines")
            variables = dict(kelo_address=name, kelo_types=types, kelo_name=machine.get("name"),
                             kelo_description=machine.get("description"),
                             kelo_status=machine.get("status"))
            if len(types) == 1:
                variables["kelo_type"] = types[0]
            if self.get_option("local"):
                variables["ansible_connection"] = "local"
            for key, value in variables.items():
                self.inventory.set_variable(name, key, value)
            group = "kelo_type_" + "_or_".join(str(t) for t in types) if types else None
            if group:
                self.inventory.add_group(group)
                self.inventory.add_host(name, group=group)
            self._set_composite_vars(self.get_option("compose"), variables, name, strict)
            self._add_host_to_composed_groups(self.get_option("groups"), variables, name, strict)
            self._add_host_to_keyed_groups(self.get_option("keyed_groups"), variables, name,
                                           strict)
