# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Varkon Systems
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
# What tessel_fleet does around its one run of cormapmp-cli apply, shared by the module (run on the
# managed host) and the action (run in the controller's process when the task runs on the controller):
# the options, the file of desired state, the command line, and the task's result from apply's report.
from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import json
import os
import tempfile

from ansible_collections.varkon.cormapmp.plugins.module_utils.cormapmp_cli import (
    COMMON_OPTIONS,
    profile_arguments,
)

ARGUMENT_SPEC = dict(
    devices=dict(type="dict", required=True),
    defaults=dict(type="dict", default={}),
    password=dict(type="str", no_log=True),
    jobs=dict(type="int"),
    **COMMON_OPTIONS
)


def check_params(params):
    """What is wrong with the task's options beyond their types; None when nothing."""
    if params.get("jobs") is not None and not 1 <= params["jobs"] <= 32:
        return "jobs: %d is not a number from 1 to 32" % params["jobs"]
    return None


def desired_state(params):
    """The desired state the task declares, as cormapmp-cli apply reads it, and what is wrong with it
    (None when nothing)."""
    devices = {}
    for name, fields in params["devices"].items():
        if fields is None:
            fields = {}
        if not isinstance(fields, dict):
            return None, "devices: %s: expected a mapping of fields to values, not %r" % (name, fields)
        devices[name] = fields
    if not devices:
        return None, "devices: name at least one device"
    return {"defaults": params.get("defaults") or {}, "devices": devices}, None


def state_file(state, folder=None):
    """Writes `state` to a new file only its owner reads, in `folder` (the system's temporary folder when
    None); its path. The caller removes it."""
    handle, path = tempfile.mkstemp(prefix="tessel-fleet-", suffix=".json", dir=folder)
    with os.fdopen(handle, "w") as file:
        json.dump(state, file)
    return path


def apply_arguments(params, path, check_mode):
    """cormapmp-cli's arguments for apply of the state in `path` (--json not included)."""
    args = ["apply", path] + (["--dry-run"] if check_mode else [])
    if params.get("jobs") is not None:
        args += ["--jobs", str(params["jobs"])]
    return args + profile_arguments(params)


def device_result(device):
    """One device's entry of the task's result."""
    result = device["result"]
    entry = dict(
        result=result,
        # Changed only when a write happened; in check mode, when one would.
        changed=result == "wouldChange" or (result == "changed" and device.get("written", False)),
        written=device.get("written", False),
        changes=device.get("changes", []),
    )
    for key in ("mac", "message"):
        if key in device:
            entry[key] = device[key]
    return entry


def device_diff(name, entry):
    return dict(
        before_header=name,
        after_header=name,
        before=dict((c["field"], c["old"]) for c in entry["changes"]),
        after=dict((c["field"], c["new"]) for c in entry["changes"]),
    )


def fleet_result(rc, doc, err, diff):
    """The task's result from apply's exit status `rc`, its JSON report `doc` and its error text `err`,
    and the message to fail with (None when every device is in its state)."""
    if not isinstance(doc, dict) or not isinstance(doc.get("devices"), list):
        return dict(rc=rc), err or "cormapmp-cli apply printed no report"
    devices = {}
    diffs = []
    for device in doc["devices"]:
        entry = device_result(device)
        devices[device["device"]] = entry
        if entry["changed"]:
            diffs.append(device_diff(device["device"], entry))
    failed = [name for name, entry in devices.items() if entry["result"] == "failed"]
    result = dict(
        changed=any(entry["changed"] for entry in devices.values()),
        devices=devices,
        changed_count=sum(1 for entry in devices.values() if entry["changed"]),
        unchanged_count=sum(1 for entry in devices.values() if entry["result"] == "unchanged"),
        failed_count=len(failed),
    )
    if diff:
        result["diff"] = diffs
    if failed or rc != 0:
        result["rc"] = rc
        reasons = ["%s: %s" % (name, devices[name].get("message", "failed")) for name in failed]
        return result, "; ".join(reasons) or err or "cormapmp-cli apply failed"
    return result, None
