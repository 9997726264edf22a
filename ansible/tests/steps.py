#!/usr/bin/env python3
"""The collection as a user meets it: built with ansible-galaxy, installed from its tarball into
a scratch collections path, and run by ansible-playbook on three local hosts, each with a
stand-in store file and an audit log file of its own. Results are read from the tree callback's
files, one per host.

usage: steps.py TOOL SCRATCH   TOOL: a built scsi-timeouts; SCRATCH: emptied, holds every file
the run writes (HOME and ANSIBLE_HOME included, so nothing reaches ~/.ansible).
Prints one line per step and closes with "ansible: N passed, M failed"; exits 1 on a failure.
"""
import ast
import json
import re
import sys
from pathlib import Path

from harness import Run, expect

HERE = Path(__file__).resolve().parent
COLLECTION = HERE.parent
ROOT = COLLECTION.parent
MODULES = sorted((COLLECTION / 'plugins' / 'modules').glob('*.py'))

# backup2 already holds LOAD as hex (it agrees with 2h12m); media1 has a value the profile lacks.
SEEDS = {'backup1': '# backup1\n[ScsiTimeouts]\n',
         'backup2': '# backup2\n[ScsiTimeouts]\nLOAD=0x1EF0\n',
         'media1': '# media1\n[ScsiTimeouts]\nREWIND=900\n'}
LTO9 = {'READ ATTRIBUTE': '11m', 'LOAD': '2h12m', 'DEFAULT': '2m', 'CDB_93': 'default'}
# opcode: (timeout, source) that show --json must give once LTO9 is applied.
LTO9_SHOWN = {0x8C: (660, 'CDB_8C'), 0x1B: (7920, 'LOAD'), 0x00: (120, 'DEFAULT'),
              0x93: (120, 'DEFAULT')}


def logged(lines):
    """The values named by audit log lines ("LOAD (0x1B): ...", "DEFAULT: ...")."""
    return sorted(line.split()[0].rstrip(':') for line in lines)


def changes_of(result):
    return sorted(change['name'] for change in result.get('changes', []))


def show(run, host):
    return run.tool_json(host, 'show', '--json')[1].get('table', [])


def build_and_install(run):
    dist = run.scratch / 'dist'
    built = run.command(['ansible-galaxy', 'collection', 'build', str(COLLECTION),
                         '--output-path', str(dist)])
    tarballs = sorted(dist.glob('qr-scsi_timeouts-*.tar.gz'))
    installed = run.command(['ansible-galaxy', 'collection', 'install', '--offline', '-p',
                             str(run.scratch / 'collections')] + [str(t) for t in tarballs])
    manifest = (run.scratch / 'collections' / 'ansible_collections' / 'qr' / 'scsi_timeouts'
                / 'MANIFEST.json')
    version = re.search(r'project\(\S+ VERSION (\S+)', (ROOT / 'CMakeLists.txt').read_text())
    return [
        built.returncode and built.stdout + built.stderr,
        installed.returncode and installed.stdout + installed.stderr,
        expect('tarballs', len(tarballs), 1),
        expect('version', json.loads(manifest.read_text())['collection_info']['version'],
               version.group(1)) if manifest.exists() else 'not installed: no ' + str(manifest)]


def style_and_python_36(run):
    # Ansible's layout puts the documentation blocks before the imports (E402).
    style = run.command(['pycodestyle', '--max-line-length=100', '--ignore=E402,W503,W504']
                        + [str(m) for m in MODULES + sorted(HERE.glob('*.py'))])
    problems = [style.stdout + style.stderr if style.returncode else None]
    for module in MODULES:  # the managed host's Python may be 3.6 (RHEL 8)
        try:
            ast.parse(module.read_text(), str(module), feature_version=(3, 6))
        except SyntaxError as error:
            problems.append('not Python 3.6: %s' % error)
    return problems


def first_run(run):
    rc, out, results = run.play('apply.yml', {'profile': LTO9})
    problems = [expect('exit status', rc, 0)]
    wanted = {'backup1': ['CDB_8C', 'DEFAULT', 'LOAD'], 'backup2': ['CDB_8C', 'DEFAULT'],
              'media1': ['CDB_8C', 'DEFAULT', 'LOAD']}
    for host in SEEDS:
        result = results.get(host, {})
        table = show(run, host)
        problems += [expect(host + ' changed', result.get('changed'), True),
                     expect(host + ' changes', changes_of(result), wanted[host]),
                     expect(host + ' audit lines', logged(run.audit(host)), wanted[host]),
                     expect(host + ' show', {op: (table[op]['timeout'], table[op]['source'])
                                             for op in LTO9_SHOWN}, LTO9_SHOWN)]
    return problems


def second_run(run):
    before = run.snapshot()
    rc, out, results = run.play('apply.yml', {'profile': LTO9})
    return [expect('exit status', rc, 0), expect('store files', run.snapshot(), before)] + [
        expect(host + ' changed, changes', (results.get(host, {}).get('changed'),
                                            changes_of(results.get(host, {}))), (False, []))
        for host in SEEDS]


def check_and_diff(run):
    before = run.snapshot()
    rc, out, results = run.play('apply.yml', {'profile': dict(LTO9, LOAD='2h30m')},
                                '--check', '--diff')
    problems = [expect('exit status', rc, 0), expect('store files', run.snapshot(), before),
                expect('diff lines', (out.count('\n-LOAD = 2h12m'), out.count('\n+LOAD = 2h30m')),
                       (3, 3))]
    for host in SEEDS:
        result = results.get(host, {})
        problems += [expect(host + ' changed', result.get('changed'), True),
                     expect(host + ' pending', [(c['name'], c['before'], c['after'])
                                                for c in result.get('changes', [])],
                            [('LOAD', 7920, 9000)])]
    return problems


def exclusive(run):
    before = run.snapshot()
    rc, out, results = run.play('apply.yml', {'profile': LTO9, 'exclusive': True}, '--diff')
    after = run.snapshot()
    tables = {host: {row['opcode']: (row['timeout'], row['source']) for row in show(run, host)}
              for host in SEEDS}
    differ = {op: (tables['media1'].get(op), rows) for op, rows in tables['backup1'].items()
              if tables['media1'].get(op) != rows}
    return [expect('exit status', rc, 0),
            expect('changed', {h: r.get('changed') for h, r in results.items()},
                   {'backup1': False, 'backup2': False, 'media1': True}),
            expect('media1 changes', [(c['name'], c['before'], c['after'])
                                      for c in results.get('media1', {}).get('changes', [])],
                   [('REWIND', 900, None)]),
            expect('diff', (out.count('\n-REWIND = 15m'), out.count('\n+REWIND = default')),
                   (1, 1)),
            expect('media1 audit', logged(after['media1'][2][len(before['media1'][2]):]),
                   ['REWIND']),
            expect('the other stores', {h: after[h] for h in ('backup1', 'backup2')},
                   {h: before[h] for h in ('backup1', 'backup2')}),
            expect('show: media1 against backup1 differs at', differ, {}),
            expect('show rows', len(tables['media1']), 256)]


def bad_name(run):
    bad = {'LAOD': '2h', 'REWIND': '20m'}
    before = run.snapshot()
    rc, out, results = run.play('apply.yml', {'profile': bad})
    refused = run.tool_json('backup1', 'apply', '--check', '--json', '-',
                            data=json.dumps({'values': bad}))[1]
    messages = [error['message'] for error in refused.get('errors', [])]
    problems = [expect('exit status', rc, 2), expect('store files', run.snapshot(), before),
                None if messages else 'the tool gave no error for %r: %r' % (bad, refused)]
    # A store that cannot be read: every host's store_file is the stores' folder. Its error has
    # no file and line, so the task's message is the tool's alone.
    folder = run.scratch / 'stores'
    rc2, out2, failed = run.play('apply.yml', {'profile': LTO9, 'store_file': str(folder)})
    store_error = '\n'.join(e['message'] for e in run.tool_json(
        'backup1', 'apply', '--json', '-', data=json.dumps({'values': LTO9}),
        store=folder)[1].get('errors', []))
    problems += [expect('exit status, failing store', rc2, 2),
                 expect('store files', run.snapshot(), before)]
    for host in SEEDS:
        msg = results.get(host, {}).get('msg', '')
        problems += [None if 'fatal: [%s]: FAILED!' % host in out else host + ' did not fail']
        problems += ['%s: %r lacks %r' % (host, msg, m) for m in messages if m not in msg]
        problems += [expect(host + ', failing store', failed.get(host, {}).get('msg'),
                            store_error or 'an error from the tool')]
    return problems


def info(run):
    with run.stores['backup1'].open('a') as store:  # something for check to find
        store.write('SPACE=1 800\n')
    rc, out, results = run.play('info.yml', {}, '--check')
    problems = [expect('exit status', rc, 0)]
    for host in SEEDS:
        result = results.get(host, {})
        status = run.tool_json(host, 'check', '--json')[0]
        problems += [expect(host + ' timeouts', result.get('timeouts'), show(run, host)),
                     expect(host + ' values', result.get('values'),
                            run.tool_json(host, 'export', '--json')[1].get('values')),
                     expect(host + ' clean', result.get('findings', {}).get('clean'),
                            status == 0)]
    flagged = results.get('backup1', {}).get('findings', {}).get('flagged', [])
    return problems + [expect('backup1 flagged', [v['name'] for v in flagged], ['SPACE'])]


def documentation(run):
    problems = []
    for module in ('timeouts', 'timeouts_info'):
        doc = run.command(['ansible-doc', '-t', 'module', 'qr.scsi_timeouts.' + module])
        problems += [doc.returncode and 'exit status %d' % doc.returncode, doc.stderr.strip()]
        problems += ['%s: no %s' % (module, part) for part in
                     ('OPTIONS', 'EXAMPLES', 'RETURN VALUES', '- tool') if part not in doc.stdout]
    return problems


STEPS = [
    ('the collection builds, installs from its tarball, and has the project version',
     build_and_install),
    ('the modules are PEP 8 and Python 3.6', style_and_python_36),
    ('1 the first run sets the values on three hosts; show --json holds them', first_run),
    ('2 a second run changes nothing: store bytes and mtimes as they were', second_run),
    ('3 --check reports the pending change and writes nothing; --diff shows it', check_and_diff),
    ('4 exclusive: true resets the value that one host had extra', exclusive),
    ('5 a bad name or a failing store fails the task with the tool\'s message; no store '
     'changes', bad_name),
    ('6 timeouts_info returns what show --json, export --json and check --json say', info),
    ('7 ansible-doc -t module renders both modules', documentation),
]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    run = Run(Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve(), SEEDS)
    run.setup()
    for name, check in STEPS:
        run.step(name, check)
    print('ansible: %d passed, %d failed' % (run.passed, run.failed))
    sys.exit(1 if run.failed else 0)


if __name__ == '__main__':
    main()
