#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 The QrScsiTimeouts project
#
# Runs on the managed host's own Python (3.6 on RHEL 8). It returns what "scsi-timeouts
# show --json", "export --json" and "check --json" say, and decides nothing of its own.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: timeouts_info
short_description: Read the SCSI timeouts in force on a host, and what check finds
version_added: "1.0.0"
description:
  - Returns the timeout in force for each of the 256 operation codes, the values that the
    registry key C(ScsiTimeouts) stores, as a profile that M(qr.scsi_timeouts.timeouts) takes,
    and the findings of C(scsi-timeouts check).
  - Runs C(scsi-timeouts show --json), C(export --json) and C(check --json) on the managed
    host. They only read; the registry is never written.
  - What is reported is what the next process's first lookup in C(libQrScsiTimeouts.so)
    will put in force with the registry as it is now.
options:
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
    description: It never writes, so it runs the same in check mode.
notes:
  - Run it with C(become) where the registry can only be read by root.
  - In Jinja, write C(scsi['values']), since C(scsi.values) is the dictionary's own method.
requirements:
  - C(scsi-timeouts) on the managed host.
seealso:
  - module: qr.scsi_timeouts.timeouts
author:
  - QrScsiTimeouts maintainers (@qrscsitimeouts)
'''

EXAMPLES = r'''
- name: Read what is in force
  qr.scsi_timeouts.timeouts_info:
  register: scsi

- name: The LOAD timeout in force (operation code 0x1B)
  ansible.builtin.debug:
    msg: "{{ (scsi.timeouts | selectattr('opcode', 'equalto', 27) | first).timeout }}"

- name: Fail where check finds something to repair or to warn about
  ansible.builtin.assert:
    that: scsi.findings.clean
    fail_msg: "{{ scsi.findings.flagged }}"

- name: The other hosts hold what backup1 holds, and nothing else
  qr.scsi_timeouts.timeouts:
    values: "{{ hostvars['backup1'].scsi['values'] }}"
    exclusive: true
  when: inventory_hostname != 'backup1'
'''

RETURN = r'''
timeouts:
  description: The timeout in force for each operation code, 0 to 255, as C(show --json) gives it.
  returned: success
  type: list
  elements: dict
  contains:
    opcode:
      description: The operation code.
      type: int
    timeout:
      description: The timeout in seconds.
      type: int
    source:
      description: The registry value that decides it.
      type: str
    stored:
      description:
        - What that value stores, or C(null) when it is absent. Stored bytes that are not
          UTF-8 are a list of byte values.
      type: raw
    command:
      description: The SCSI command of this code, or C(null).
      type: str
  sample:
    - {opcode: 27, timeout: 7920, source: LOAD, stored: "7920", command: LOAD UNLOAD}
values:
  description:
    - The values that the registry stores and the library uses, each a registry name with its
      DURATION, as C(scsi-timeouts export --json) writes them. It is a
      profile, so it may be given to M(qr.scsi_timeouts.timeouts) as its I(values).
    - A stored value that the library does not use (not a number, or a C(CDB_xx) that a named
      value overrides) is left out; I(findings) names it.
  returned: success
  type: dict
  sample: {CDB_8C: 11m, LOAD: 2h12m}
findings:
  description: What C(scsi-timeouts check) finds.
  returned: success
  type: dict
  contains:
    clean:
      description: C(check) found nothing to repair and nothing to warn about (it exited 0).
      type: bool
    store:
      description: The store that was read.
      type: str
    install_entry:
      description: The install entry is present, so the next load repairs values.
      type: bool
    flagged:
      description:
        - The values for which C(check) reports a repair, a reason or a warning, as
          C(check --json) describes them.
      type: list
      elements: dict
      contains:
        name:
          description: The registry's name of the value.
          type: str
        stored:
          description: The stored text (a list of byte values when it is not UTF-8), or C(null).
          type: raw
        timeout:
          description: The seconds the library reads from it, or C(null).
          type: int
        repair:
          description: The marker the next load writes over it, or C(null).
          type: str
        reason:
          description: Why the stored text is not in force as it stands, or C(null).
          type: str
        warnings:
          description: What C(check) warns about in it.
          type: list
          elements: str
    misspelled:
      description: Stored names that the library does not read, with the name meant.
      type: list
      elements: dict
  sample:
    clean: false
    store: the platform registry
    install_entry: true
    flagged:
      - {name: LOAD, stored: soon, timeout: 900, repair: "*900*", reason: not a number,
         warnings: []}
    misspelled: []
'''

import json

from ansible.module_utils.basic import AnsibleModule


def read(module, command, statuses):
    """Runs one reading command of the tool and returns its JSON and its exit status."""
    tool = module.params['tool']
    if '/' not in tool:
        tool = module.get_bin_path(tool, required=True)
    rc, out, err = module.run_command([tool, command, '--json'])
    try:
        report = json.loads(out) if rc in statuses else None
    except ValueError:
        report = None
    if not isinstance(report, dict):
        module.fail_json(msg=err.strip() or 'scsi-timeouts %s exited with status %d'
                         % (command, rc), rc=rc, stderr=err)
    return report, rc


def said_something(value):
    return (value.get('repair') is not None or value.get('reason') is not None
            or bool(value.get('warnings')))


def main():
    module = AnsibleModule(
        argument_spec=dict(tool=dict(type='path', default='scsi-timeouts')),
        supports_check_mode=True,
    )
    shown, _ = read(module, 'show', (0,))
    exported, _ = read(module, 'export', (0,))
    # check exits 1 when it finds something: that is a report, not a failure.
    checked, rc = read(module, 'check', (0, 1))
    module.exit_json(
        changed=False,
        timeouts=shown.get('table', []),
        values=exported.get('values', {}),
        findings=dict(clean=rc == 0, store=checked.get('store'),
                      install_entry=checked.get('install_entry'),
                      flagged=[v for v in checked.get('values', []) if said_something(v)],
                      misspelled=checked.get('misspelled', [])))


if __name__ == '__main__':
    main()
