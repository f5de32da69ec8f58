# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Varkon Systems
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)
# tessel_fleet, when the task runs on the controller itself (a local connection, no become): one
# cormapmp-cli apply run straight from the controller's process, as the module would run it, without
# packing the module, starting a Python for it and unpacking it again. Anywhere else the module goes to
# the managed host as usual. The options, the result and the failures are the module's, from the same code.
from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import os
import subprocess

from ansible.module_utils.common.process import get_bin_path
from ansible.plugins.action import ActionBase
from ansible_collections.varkon.cormapmp.plugins.module_utils.cormapmp_cli import cli_environment, parse_json
from ansible_collections.varkon.cormapmp.plugins.module_utils.cormapmp_fleet import (
    ARGUMENT_SPEC,
    apply_arguments,
    check_params,
    desired_state,
    fleet_result,
    state_file,
)


class ActionModule(ActionBase):
    """Runs tessel_fleet in the controller's process when the task runs on the controller."""

    _supports_check_mode = True
    _supports_async = False

    def _runs_on_controller(self):
        # become and the task's environment change who runs the program and how: leave those to the module.
        return (getattr(self._connection, "transport", None) == "local"
                and not self._play_context.become
                and not any(self._task.environment or []))

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp
        if not self._runs_on_controller():
            result.update(self._execute_module(module_name="varkon.cormapmp.tessel_fleet",
                                               module_args=self._task.args, task_vars=task_vars))
            self._remove_tmp_path(self._connection._shell.tmpdir)
            return result

        dummy, params = self.validate_argument_spec(argument_spec=ARGUMENT_SPEC)
        state, wrong = desired_state(params)
        problem = check_params(params) or wrong
        if problem:
            result.update(failed=True, msg=problem)
            return result
        try:
            cli = get_bin_path(params["cli"])
        except ValueError as e:
            result.update(failed=True, msg=str(e))
            return result

        path = state_file(state)
        try:
            environ = dict(os.environ)
            environ.update(cli_environment(params["password"]))
            process = subprocess.run([cli] + apply_arguments(params, path, self._task.check_mode) + ["--json"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=environ, check=False)
        except OSError as e:
            result.update(failed=True, msg="%s: %s" % (params["cli"], e))
            return result
        finally:
            os.unlink(path)
        doc = parse_json(process.stdout.decode("utf-8", errors="replace"))
        fleet, failure = fleet_result(process.returncode, doc, process.stderr.decode("utf-8", errors="replace").strip(),
                                      self._task.diff)
        result.update(fleet)
        if failure:
            result.update(failed=True, msg=failure)
        return result
