#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Varkon Systems
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
# Many Tessel devices in a declared state with one task: one cormapmp-cli apply on the managed host.
from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r"""
module: tessel_fleet
short_description: Keep the settings of many Tessel devices in a declared state with one task
description:
  - Brings every device that I(devices) names into the state declared for it with one run of
    C(cormapmp-cli apply) on the managed host. Each device is read and compared, and written only when
    one of its fields differs (the same checks, password handling and turn-taking as
    C(cormapmp-cli write)); up to I(jobs) devices are served side by side.
  - One task serves a whole site, however many devices it has; M(varkon.cormapmp.tessel_device) serves
    one device per task.
  - When the task runs on the controller itself (a local connection, as in a play on C(localhost) or a
    task delegated to it, without become and without C(environment)), C(cormapmp-cli apply) is run from
    Ansible's own process instead of sending the module to a host; the options, the result and the
    failures are the same.
  - Check mode reads and compares but writes nothing; diff mode shows, for each device that differs,
    each field with its value before and after.
  - The task fails when one device could not be brought into its state (it did not answer, or refused
    the write); the others are still served and reported in I(devices).
options:
  devices:
    description:
      - The devices and the fields each must hold, keyed by the device's MAC (a broadcast exchange) or
        IPv4 address (a unicast one), the fields named as C(cormapmp-cli read --json) names them
        (C(comment), C(ipAddress), C(com1.baudRate), ...), or nested under C(ports) as it shows them.
      - The same shape as the C(devices) of a file of desired state for C(cormapmp-cli apply).
    type: dict
    required: true
  defaults:
    description: Fields every device named must hold, unless its own entry gives the field another value.
    type: dict
    default: {}
  password:
    description: The device password, for the devices that have one (one password for the fleet).
    type: str
  jobs:
    description: How many devices are served at once (1 to 32; the program's default when not given).
    type: int
extends_documentation_fragment:
  - varkon.cormapmp.cli
attributes:
  check_mode:
    description: Reads and compares every device, writes nothing, and reports what would change.
    support: full
  diff_mode:
    description: Shows each field that differs, device by device, before and after.
    support: full
author: Varkon Systems (@varkonsystems)
"""

EXAMPLES = r"""
- name: The serial lines of the site
  varkon.cormapmp.tessel_fleet:
    defaults:
      com1.mode: COD
      com1.peerIp: 10.20.0.5
      com1.baudRate: 115200
    devices:
      02:7e:55:00:00:01: {comment: Press 1, com1.peerPort: 4001}
      02:7e:55:00:00:02: {comment: Press 2, com1.peerPort: 4002}
      10.20.0.31: {comment: Kiln, com1.baudRate: 9600}
    password: "{{ tessel_password }}"
  register: site

- name: The devices that were written
  ansible.builtin.debug:
    msg: "{{ site.devices | dict2items | selectattr('value.changed') | map(attribute='key') | list }}"
"""

RETURN = r"""
devices:
  description:
    - What became of each device, keyed by the name I(devices) gives it.
    - C(result) is C(changed), C(unchanged), C(wouldChange) (check mode), C(failed) or C(sameDevice)
      (the device was named before under another name and served under that one).
    - C(changed) is true when the device was written (in check mode, when it would be); C(written) when
      a write went out and the device answered; C(changes) lists each field that differed with its
      C(old) and C(new) value as C(cormapmp-cli read --json) shows values; C(mac) is the device's MAC;
      C(message) says why a device failed.
  type: dict
  returned: always
  sample:
    02:7e:55:00:00:01:
      result: changed
      changed: true
      written: true
      mac: 02:7e:55:00:00:01
      changes: [{field: comment, old: Tessel sim 1, new: Press 1}]
changed_count:
  description: How many devices were written (in check mode, would be).
  type: int
  returned: always
unchanged_count:
  description: How many devices already held their declared state.
  type: int
  returned: always
failed_count:
  description: How many devices could not be brought into their state.
  type: int
  returned: always
"""

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.varkon.cormapmp.plugins.module_utils.cormapmp_cli import run_json
from ansible_collections.varkon.cormapmp.plugins.module_utils.cormapmp_fleet import (
    ARGUMENT_SPEC,
    apply_arguments,
    check_params,
    desired_state,
    fleet_result,
    state_file,
)


def run_apply(module, state):
    """Runs cormapmp-cli apply once on `state`; its exit status, JSON report (None when it printed none)
    and error text."""
    path = state_file(state, module.tmpdir)
    try:
        return run_json(module, apply_arguments(module.params, path, module.check_mode), module.params["password"])
    finally:
        os.unlink(path)


def main():
    module = AnsibleModule(argument_spec=ARGUMENT_SPEC, supports_check_mode=True)
    problem = check_params(module.params)
    state, wrong = desired_state(module.params)
    if problem or wrong:
        module.fail_json(msg=problem or wrong)
    rc, doc, err = run_apply(module, state)
    result, failure = fleet_result(rc, doc, err, module._diff)
    if failure:
        module.fail_json(msg=failure, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
