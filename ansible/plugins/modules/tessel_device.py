#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Varkon Systems
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
# One Tessel device in a declared state: cormapmp-cli apply on the managed host.
from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r"""
module: tessel_device
short_description: Keep the settings of one Tessel device in a declared state
description:
  - Reads the device named by I(device), compares the I(fields) with what it holds and writes only
    when one differs, through C(cormapmp-cli apply) on the managed host (the same checks, password
    handling and turn-taking as C(cormapmp-cli write)).
  - Check mode reads and compares but writes nothing; diff mode shows each field that differs.
options:
  device:
    description: The device, by its MAC (a broadcast exchange) or its IPv4 address (a unicast one).
    type: str
    required: true
  fields:
    description:
      - The fields the device must hold and their values, named as C(cormapmp-cli read --json) names
        them (C(comment), C(ipAddress), C(com1.baudRate), ...).
    type: dict
    required: true
  password:
    description: The device password, when it has one.
    type: str
extends_documentation_fragment:
  - varkon.cormapmp.cli
attributes:
  check_mode:
    description: Reads the device and compares; reports what would change and writes nothing.
    support: full
  diff_mode:
    description: Shows each field that differs, with the device's value before and the declared one after.
    support: full
author: Varkon Systems (@varkonsystems)
"""

EXAMPLES = r"""
- name: Line 1 sends its serial data to the plant's server
  varkon.cormapmp.tessel_device:
    device: 02:7e:55:00:00:01
    fields:
      comment: Line 1
      com1.baudRate: 115200
      com1.peerIp: 10.20.0.5
    password: "{{ tessel_password }}"
"""

RETURN = r"""
mac:
  description: The device's MAC.
  type: str
  returned: when the device answered
changes:
  description: Each field that differed, with its old and new value as read --json shows values.
  type: list
  elements: dict
  returned: always
written:
  description: True when a write went out to the device and it answered.
  type: bool
  returned: always
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.varkon.cormapmp.plugins.module_utils.cormapmp_cli import (
    COMMON_OPTIONS,
    profile_arguments,
    run_json,
)


def apply_state(module):
    """Runs cormapmp-cli apply on a desired state naming this one device; its report on the device."""
    state = {"devices": {module.params["device"]: module.params["fields"]}}
    # The module's own temporary folder: private to this run, removed with it by AnsibleModule.
    path = os.path.join(module.tmpdir, "tessel-state.json")
    with open(path, "w", encoding="utf-8") as file:
        json.dump(state, file)
    args = ["apply", path] + (["--dry-run"] if module.check_mode else [])
    rc, doc, err = run_json(module, args + profile_arguments(module.params), module.params["password"])
    if doc is None or not doc.get("devices"):
        module.fail_json(msg=err or "cormapmp-cli apply printed no report", rc=rc)
    return rc, doc["devices"][0], err


def main():
    module = AnsibleModule(
        argument_spec=dict(
            device=dict(type="str", required=True),
            fields=dict(type="dict", required=True),
            password=dict(type="str", no_log=True),
            **COMMON_OPTIONS,
        ),
        supports_check_mode=True,
    )
    rc, device, err = apply_state(module)
    changes = device.get("changes", [])
    result = dict(mac=device.get("mac"), changes=changes, written=device.get("written", False))
    if device["result"] not in ("changed", "wouldChange", "unchanged"):
        module.fail_json(msg=device.get("message") or err, rc=rc, **result)
    # Changed only when a write happened; in check mode, when one would.
    result["changed"] = device["result"] == "wouldChange" or (device["result"] == "changed" and result["written"])
    if module._diff:
        result["diff"] = dict(
            before_header=device["device"],
            after_header=device["device"],
            before={c["field"]: c["old"] for c in changes},
            after={c["field"]: c["new"] for c in changes},
        )
    module.exit_json(**result)


if __name__ == "__main__":
    main()
