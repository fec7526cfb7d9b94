"""The playbook's action: runs apply-update-cli for one host, on the control node.

It runs the program itself, in the Ansible worker that handles the host, instead of
sending Ansible's command module to the control node as a host: with many hosts that
module's start-up, once per host, costs more than the update's whole conversation.

Arguments:
    argv  the program and its arguments, as a list (never a shell line)

The task's `environment` reaches the program (that is how the password gets there), the
program's standard input is empty, and the result holds:
    rc              the exit status (127 when the program could not be started)
    summary         the program's JSON summary line as a mapping (outcome "not-run" when
                    there is none)
    log             the status log: standard output without the summary line
    stderr, stderr_lines
    changed         true when the update was applied
The action itself never fails; the playbook judges the outcome.
"""

import json
import os
import subprocess

from ansible.errors import AnsibleActionFail
from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(("argv",))

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        argv = self._task.args.get("argv")
        if not isinstance(argv, list) or not argv:
            raise AnsibleActionFail("argv must be a non-empty list")
        argv = [str(argument) for argument in argv]
        if self._play_context.check_mode:
            result.update(skipped=True, msg="check mode applies no update")
            return result

        # The task's environment, templated as Ansible does for its modules.
        variables = {}
        self._compute_environment_string(variables)
        environment = dict(os.environ)
        environment.update({name: str(value) for name, value in variables.items()})
        try:
            run = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True,
                                 env=environment, check=False)
            rc = run.returncode
            out = run.stdout.decode("utf-8", "replace")
            err = run.stderr.decode("utf-8", "replace")
        except OSError as error:
            rc, out, err = 127, "", "cannot start %s: %s" % (argv[0], error.strerror)

        lines = out.splitlines()
        summary = None
        if lines and lines[-1].startswith("{"):
            try:
                summary = json.loads(lines[-1])
                lines.pop()
            except ValueError:
                summary = None
        if not isinstance(summary, dict):
            summary = {"outcome": "not-run", "message": err.strip()}
        result.update(rc=rc, summary=summary, log=lines, stdout=out, stderr=err,
                      stderr_lines=err.splitlines(), changed=rc == 0)
        return result
