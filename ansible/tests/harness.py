"""The ansible leg's harness: a scratch folder with an ansible.cfg, an inventory of local hosts
with a stand-in store file and an audit log file each, and the plays and tool runs of the steps
(ansible/tests/steps.py). Nothing is written outside the scratch folder: HOME and ANSIBLE_HOME
are in it, and the caller's ANSIBLE_* variables are dropped."""
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent


class Run:
    """One run of the steps: the scratch folder, the hosts' files, and the steps' verdicts."""

    def __init__(self, tool, scratch, seeds):
        self.tool, self.scratch, self.seeds = tool, scratch, seeds
        self.stores = {host: scratch / 'stores' / (host + '.ini') for host in self.seeds}
        self.audits = {host: scratch / 'stores' / (host + '.audit') for host in self.seeds}
        self.env = {k: v for k, v in os.environ.items() if not k.startswith('ANSIBLE_')}
        self.env.update(HOME=str(scratch / 'home'), ANSIBLE_CONFIG=str(scratch / 'ansible.cfg'),
                        ANSIBLE_HOME=str(scratch / 'home' / '.ansible'))
        self.env.pop('QRLIB_STAND_IN_FILE', None)
        # Changes are logged to files here, never to the system log.
        self.env['QR_SCSI_TIMEOUTS_AUDIT_FILE'] = str(scratch / 'stores' / 'direct.audit')
        self.passed = self.failed = 0
        self.plays = 0

    def setup(self):
        shutil.rmtree(self.scratch, ignore_errors=True)
        for folder in ('home', 'stores', 'tmp', 'results'):
            (self.scratch / folder).mkdir(parents=True)
        for host, text in self.seeds.items():
            self.stores[host].write_text(text)
        (self.scratch / 'ansible.cfg').write_text(
            '[defaults]\ninventory = {0}/hosts.yml\ncollections_path = {0}/collections\n'
            'collections_scan_sys_path = False\nlocal_tmp = {0}/tmp/local\n'
            'remote_tmp = {0}/tmp/remote\nretry_files_enabled = False\nnocolor = True\n'
            'callbacks_enabled = ansible.builtin.tree\n'.format(self.scratch))
        hosts = {host: {'store_file': str(self.stores[host]), 'audit_file': str(self.audits[host])}
                 for host in self.seeds}
        inventory = {'tape_hosts': {'hosts': hosts, 'vars': {
            'ansible_connection': 'local',
            'ansible_python_interpreter': '{{ ansible_playbook_python }}',
            'scsi_timeouts_tool': str(self.tool)}}}
        (self.scratch / 'hosts.yml').write_text(json.dumps(inventory, indent=1))

    def command(self, args, data=None, env=None):
        return subprocess.run(args, input=data, env=env or self.env, cwd=str(self.scratch),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              universal_newlines=True, timeout=300)

    def play(self, playbook, extra, *flags):
        """Runs a playbook; returns its exit status, its output and each host's result."""
        self.plays += 1
        results = self.scratch / 'results' / str(self.plays)
        extra_file = self.scratch / 'results' / ('%d.json' % self.plays)
        extra_file.write_text(json.dumps(extra))
        env = dict(self.env, ANSIBLE_CALLBACK_TREE_DIR=str(results))
        done = self.command(['ansible-playbook', str(HERE / playbook), '-e', '@%s' % extra_file]
                            + list(flags), env=env)
        (self.scratch / 'results' / ('%d.log' % self.plays)).write_text(done.stdout + done.stderr)
        return done.returncode, done.stdout, {
            host: json.loads((results / host).read_text()) for host in self.seeds
            if (results / host).exists()}

    def tool_json(self, host, *args, data=None, store=None):
        env = dict(self.env, QRLIB_STAND_IN_FILE=str(store or self.stores[host]))
        done = self.command([str(self.tool)] + list(args), data=data, env=env)
        try:
            return done.returncode, json.loads(done.stdout)
        except ValueError:
            return done.returncode, {'not JSON': done.stdout + done.stderr}

    def snapshot(self):
        """Each host's store file (bytes and mtime) and audit lines."""
        return {host: (self.stores[host].read_bytes(), self.stores[host].stat().st_mtime_ns,
                       self.audit(host)) for host in self.seeds}

    def audit(self, host):
        path = self.audits[host]
        return path.read_text().splitlines() if path.exists() else []

    def step(self, name, check):
        try:
            problems = [p for p in check(self) if p]
        except Exception as error:  # a step that cannot run has failed, the others still run
            problems = ['%s: %s' % (type(error).__name__, error)]
        if problems:
            self.failed += 1
            print('FAIL %s' % name)
            for problem in problems:
                print('    ' + problem.replace('\n', '\n    '))
        else:
            self.passed += 1
            print('ok   %s' % name)
        sys.stdout.flush()


def expect(what, got, wanted):
    return None if got == wanted else '%s: %r, wanted %r' % (what, got, wanted)
