#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 The QrScsiTimeouts project
#
# Runs on the managed host's own Python (3.6 on RHEL 8). It only hands the values to
# "scsi-timeouts apply" and returns what the tool says: names, durations and writes are the
# tool's to decide, so that a playbook and an administrator at the prompt get the same result.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: timeouts
short_description: Make a host's SCSI timeouts registry hold the given values
version_added: "1.0.0"
description:
  - Makes every value named in I(values) hold what it says in the registry key
    C(ScsiTimeouts) that C(libQrScsiTimeouts.so) reads, and, with I(exclusive), puts every
    other stored value back to its built-in behaviour.
  - Runs C(scsi-timeouts apply --json -) on the managed host, with the values as a JSON
    profile on its standard input. The tool checks the whole profile before it writes
    anything, writes only the values that differ (compared by what the library reads from
    them, so a stored C(0x384) agrees with C(15m)), and reads each write back in a new
    process. A second run with the same values writes nothing.
  - Every change is logged by the tool through syslog, with the user who made it.
  - A change takes effect in processes started after it.
options:
  values:
    description:
      - What the registry must hold, a VALUE for each NAME.
      - A NAME is any name C(scsi-timeouts set) accepts, in any case, C(DEFAULT), a
        registry name (C(LOAD)), C(CDB_xx), an operation code (C(0x8C)) or a SCSI command
        name (C(READ ATTRIBUTE)). Quote operation codes, since YAML reads an unquoted
        C(0x8C) as the number 140.
      - A VALUE is a DURATION as C(scsi-timeouts set) takes it (C(11m), C(2h12m)), a number
        of seconds, or C(default), which means the value must be at its built-in behaviour.
      - An empty I(values) with I(exclusive=true) returns the registry to the built-in
        defaults.
    type: dict
    default: {}
  exclusive:
    description:
      - Also put every stored value that I(values) does not name back to its built-in
        behaviour.
    type: bool
    default: false
  tool:
    description:
      - The C(scsi-timeouts) program; a name without C(/) is looked for on the managed
        host's C(PATH).
      - Set it to C(/opt/qr/bin/scsi-timeouts) for the product tree.
    type: path
    default: scsi-timeouts
attributes:
  check_mode:
    support: full
    description: Runs C(apply --check), which computes the same changes and writes nothing.
  diff_mode:
    support: full
    description:
      - The changed values in profile form before and after, as C(scsi-timeouts apply --diff)
        writes them (C(-LOAD = 15m), C(+LOAD = 2h12m)).
notes:
  - A bad profile (an unknown name, a bad DURATION, two names for one value with different
    values) fails the task with the tool's messages, and nothing is written.
  - Run it with C(become), as the registry is root's.
requirements:
  - C(scsi-timeouts) on the managed host.
seealso:
  - module: qr.scsi_timeouts.timeouts_info
author:
  - QrScsiTimeouts maintainers (@qrscsitimeouts)
'''

EXAMPLES = r'''
- name: LTO-9 timeouts on the backup hosts, from the drives' own reports
  qr.scsi_timeouts.timeouts:
    values:
      READ ATTRIBUTE: 11m
      LOAD: 2h12m
      DEFAULT: 2m
      CDB_93: default
  become: true

- name: Exactly these values, every other one back to its built-in behaviour
  qr.scsi_timeouts.timeouts:
    values:
      LOAD: 2h12m
      '0x8C': 11m
    exclusive: true
  become: true

- name: Back to the built-in defaults
  qr.scsi_timeouts.timeouts:
    exclusive: true
    tool: /opt/qr/bin/scsi-timeouts
  become: true
'''

RETURN = r'''
changes:
  description:
    - The values written, or with check mode the values that would be, in the order the
      tool writes them (C(DEFAULT) first).
    - I(before) and I(after) are the seconds the library reads, or C(null) for a value that
      is absent or at its built-in behaviour. A stored value that the library does not use
      shows as its stored text (a string, or a list of byte values when it is not UTF-8).
  returned: always
  type: list
  elements: dict
  sample:
    - name: LOAD
      opcodes: ["0x1B"]
      before: 900
      after: 7920
    - name: CDB_8C
      opcodes: ["0x8C"]
      before: null
      after: 660
unchanged:
  description: How many of the named values already held what was asked.
  returned: success
  type: int
  sample: 2
errors:
  description: When the profile is refused, each of the tool's messages with its line.
  returned: failure
  type: list
  elements: dict
  sample:
    - file: (standard input)
      line: 1
      message: 'unknown name "LAOD"; close matches: LOAD'
'''

import json

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_text


def run_tool(module, arguments, data=None):
    """Runs the tool; returns its exit status, its JSON report (None if it wrote none) and
    its standard error."""
    tool = module.params['tool']
    if '/' not in tool:
        tool = module.get_bin_path(tool, required=True)
    rc, out, err = module.run_command([tool] + arguments, data=data)
    try:
        report = json.loads(out)
    except ValueError:
        report = None
    return rc, report, err


def failure(module, rc, report, err):
    """Fails the task with the tool's own messages: FILE:LINE: MESSAGE for a profile's error,
    the message alone for one of the store."""
    report = report if isinstance(report, dict) else {}
    lines = []
    for error in report.get('errors') or []:
        where = ':'.join(to_text(error[key]) for key in ('file', 'line')
                         if error.get(key) is not None)
        message = to_text(error.get('message'))
        lines.append('%s: %s' % (where, message) if where else message)
    if not lines and err.strip():
        lines.append(err.strip())
    if not lines:
        lines.append('scsi-timeouts apply exited with status %d' % rc)
    # A store that fails midway leaves the values before it written: say so.
    module.fail_json(msg='\n'.join(lines), rc=rc, stderr=err,
                     changed=bool(report.get('changed')) and not module.check_mode,
                     changes=report.get('changes', []), errors=report.get('errors', []))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            values=dict(type='dict', default={}),
            exclusive=dict(type='bool', default=False),
            tool=dict(type='path', default='scsi-timeouts'),
        ),
        supports_check_mode=True,
    )
    arguments = ['apply', '--json']
    if module.check_mode:
        arguments.append('--check')
    if module.params['exclusive']:
        arguments.append('--exclusive')
    if module._diff:
        arguments.append('--diff')
    arguments.append('-')
    profile = json.dumps({'values': module.params['values']})

    rc, report, err = run_tool(module, arguments, data=profile)
    if rc not in (0, 1) or not isinstance(report, dict):
        failure(module, rc, report, err)

    for warning in report.get('warnings') or []:
        module.warn(warning if isinstance(warning, str) else json.dumps(warning))
    result = dict(changed=bool(report.get('changed')), changes=report.get('changes', []),
                  unchanged=report.get('unchanged', 0))
    if module._diff and isinstance(report.get('diff'), dict):
        # The changed values in profile form, as "apply --diff" writes them.
        result['diff'] = dict(before=to_text(report['diff'].get('before', '')),
                              after=to_text(report['diff'].get('after', '')))
    module.exit_json(**result)


if __name__ == '__main__':
    main()
