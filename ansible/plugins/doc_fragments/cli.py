# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Varkon Systems
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
# The options every module of this collection shares: how cormapmp-cli reaches the devices from the
# managed host (module_utils/cormapmp_cli.py, COMMON_OPTIONS, takes them).
from __future__ import (absolute_import, division, print_function)
__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r"""
options:
  loopback:
    description: Talk to simulated devices on this host (C(tessel-sim --loopback)).
    type: bool
    default: false
  device_port:
    description: The devices' protocol port (default 50005, with I(loopback) 51005).
    type: int
  bind:
    description: The local address broadcasts leave from (a search, and a device named by its MAC).
    type: str
  all_adapters:
    description: Broadcasts leave from every network adapter of the host.
    type: bool
    default: false
  cli:
    description: The C(cormapmp-cli) program to run.
    type: str
    default: cormapmp-cli
"""
