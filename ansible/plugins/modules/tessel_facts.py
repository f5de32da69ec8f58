#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Varkon Systems
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
# The Tessel devices a search from the managed host finds, as facts.
from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r"""
module: tessel_facts
short_description: Gather the Tessel devices a search finds as facts
description:
  - Searches for Tessel devices from the managed host with C(cormapmp-cli search) (every device on its
    LANs by broadcast, or the one at I(ip)) and sets the fact C(tessel_devices), one entry per device.
  - With I(settings), each device's settings (C(cormapmp-cli read --json)) are added as its C(settings).
options:
  ip:
    description: Ask the one device at this IPv4 address instead of searching by broadcast.
    type: str
  settings:
    description: Also read each device's settings.
    type: bool
    default: false
extends_documentation_fragment:
  - varkon.cormapmp.cli
attributes:
  check_mode:
    description: Searches and reads as in a normal run; it never changes a device.
    support: full
  facts:
    description: Sets C(tessel_devices) in the host's facts.
    support: full
author: Varkon Systems (@varkonsystems)
"""

EXAMPLES = r"""
- name: Find the site's devices
  varkon.cormapmp.tessel_facts:
    settings: true
- name: Name them
  ansible.builtin.debug:
    msg: "{{ tessel_devices | map(attribute='mac') | list }}"
"""

RETURN = r"""
ansible_facts:
  description: C(tessel_devices), the devices found as C(cormapmp-cli search --json) lists them.
  type: dict
  returned: always
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.varkon.cormapmp.plugins.module_utils.cormapmp_cli import (
    COMMON_OPTIONS,
    profile_arguments,
    run_json,
)


def main():
    module = AnsibleModule(
        argument_spec=dict(ip=dict(type="str"), settings=dict(type="bool", default=False), **COMMON_OPTIONS),
        supports_check_mode=True,
    )
    profile = profile_arguments(module.params)
    search = ["search"] + (["--ip", module.params["ip"]] if module.params["ip"] else [])
    rc, found, err = run_json(module, search + profile)
    if rc != 0 or not isinstance(found, list):
        module.fail_json(msg=err or "cormapmp-cli search printed no list", rc=rc)
    if module.params["settings"]:
        for device in found:
            # A device found by broadcast is read by its MAC, so the binding applies to it too.
            rc, settings, err = run_json(module, ["read", device["mac"]] + profile)
            if rc != 0 or settings is None:
                module.fail_json(msg=err or "cormapmp-cli read printed nothing", rc=rc, device=device["mac"])
            device["settings"] = settings
    module.exit_json(changed=False, ansible_facts=dict(tessel_devices=found))


if __name__ == "__main__":
    main()
