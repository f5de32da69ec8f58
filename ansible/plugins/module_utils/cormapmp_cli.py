# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Varkon Systems
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
# How the modules of this collection run cormapmp-cli on the managed host: the options every module
# shares (the network profile, the binding, the program's path) and one JSON document per run.
from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import json

COMMON_OPTIONS = dict(
    loopback=dict(type="bool", default=False),
    device_port=dict(type="int"),
    bind=dict(type="str"),
    all_adapters=dict(type="bool", default=False),
    cli=dict(type="str", default="cormapmp-cli"),
)


def profile_arguments(params):
    """The command line's options for the network profile and the binding."""
    args = []
    if params.get("loopback"):
        args.append("--loopback")
    if params.get("device_port") is not None:
        args += ["--device-port", str(params["device_port"])]
    if params.get("bind"):
        args += ["--bind", params["bind"]]
    if params.get("all_adapters"):
        args.append("--all-adapters")
    return args


def cli_environment(password=None):
    """What cormapmp-cli's environment must hold besides the caller's. The device password goes through
    the environment, never the arguments."""
    environ = {"LC_ALL": "C.UTF-8"}
    if password is not None:
        environ["CORMAPMP_PASSWORD"] = password
    return environ


def parse_json(out):
    """The JSON document cormapmp-cli printed; None when it printed none, or no JSON."""
    try:
        return json.loads(out) if out.strip() else None
    except ValueError:
        return None


def run_json(module, args, password=None):
    """Runs cormapmp-cli with `args` and --json; its exit status, its JSON document (None when it printed
    none) and its error text."""
    cli = module.get_bin_path(module.params["cli"], required=True)
    rc, out, err = module.run_command([cli] + args + ["--json"], environ_update=cli_environment(password))
    return rc, parse_json(out), err.strip()
