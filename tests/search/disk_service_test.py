#!/usr/bin/python3
"""The command line against a stand-in for the desktop's disk service on a
private system bus: a device the user may not open is read through the
descriptor the service hands over; a refusal and a missing service are
errors that name the device and say why. The stand-in serves the demo
partition's image for a device node that does not exist, so the test never
rests on file permissions (the tests run as root). A folder the desktop
mounted is searched with no device named: in a mount namespace of its own,
the command line sees a mount table where the demo folder is a FAT
partition of that missing node."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import dbus
import dbusmock

CLI, CORPUS, SEARCH_TESTS, PLAYER, WITH_DISPLAY, LANGUAGE = sys.argv[1:7]
del sys.argv[1:7]
FOLDER = os.path.join(CORPUS, 'partition', 'disk')
IMAGE = os.path.join(CORPUS, 'partition', 'device.img')
DEVICE = '/dev/velmor-test-sdz1'
OBJECT = '/org/freedesktop/UDisks2/block_devices/velmor_2dtest_2dsdz1'


def list_records(device):
    return subprocess.run([CLI, 'list', FOLDER, '--device', device], capture_output=True, text=True, timeout=120)


def mounted_command(table, command):
    """`command` with FOLDER mounted from DEVICE as far as it can tell: in a
    mount namespace of its own, its mount table is replaced by one line."""
    with open(table, 'w') as f:
        f.write('900 1 8:33 / %s ro,relatime - vfat %s ro,fmask=0022\n' % (os.path.realpath(FOLDER), DEVICE))
    return ['unshare', '-m', 'sh', '-c', 'mount --bind "$0" /proc/$$/mountinfo && exec "$@"', table] + command


def texts_of(key):
    """The key's text in every language of the language file."""
    with open(LANGUAGE, encoding='utf-8') as f:
        return {line.split('=', 1)[1].strip() for line in f if line.startswith(key + '=')}


class DiskServiceTest(dbusmock.DBusTestCase):
    @classmethod
    def setUpClass(cls):
        cls.start_system_bus()
        cls.direct = json.loads(subprocess.run([CLI, 'list', FOLDER, '--device', IMAGE], capture_output=True,
                                               text=True, check=True).stdout)

    def serve(self, code, unmount='', mount=''):
        server = self.spawn_server('org.freedesktop.UDisks2', OBJECT, 'org.freedesktop.UDisks2.Block',
                                   system_bus=True, stdout=subprocess.DEVNULL)
        self.addCleanup(server.wait)
        self.addCleanup(server.terminate)
        mock = dbus.Interface(self.get_dbus(True).get_object('org.freedesktop.UDisks2', OBJECT), dbusmock.MOCK_IFACE)
        mock.AddMethod('org.freedesktop.UDisks2.Block', 'OpenForBackup', 'a{sv}', 'h', code)
        mock.AddMethod('org.freedesktop.UDisks2.Filesystem', 'Unmount', 'a{sv}', '', unmount)
        mock.AddMethod('org.freedesktop.UDisks2.Filesystem', 'Mount', 'a{sv}', 's', mount)
        return mock

    def remount(self, expect):
        env = dict(os.environ, VELMOR_MOCK_UDISKS_DEVICE=DEVICE, VELMOR_MOCK_UDISKS_EXPECT=expect)
        run = subprocess.run([SEARCH_TESTS, '--gtest_filter=DiskServiceOnBus.*'], env=env, capture_output=True,
                             text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn('[  PASSED  ] 1 test', run.stdout)

    def test_a_writable_mount_is_mounted_again_read_only(self):
        mock = self.serve('', mount="ret = '/media/u/DVR' if args[0].get('options') == 'ro' else '/media/u/RW'")
        self.remount('mounted:/media/u/DVR')
        calls = [(c[1], c[2]) for c in mock.GetCalls()]
        self.assertEqual([c[0] for c in calls], ['Unmount', 'Mount'])
        self.assertEqual(dict(calls[1][1][0]), {'options': 'ro'})

    def test_a_disk_in_use_stays_as_it_is(self):
        mock = self.serve('', unmount="raise dbus.exceptions.DBusException('Target is busy', "
                          "name='org.freedesktop.UDisks2.Error.DeviceBusy')")
        self.remount('unmount: Target is busy')
        self.assertEqual([c[1] for c in mock.GetCalls()], ['Unmount'])

    def test_a_granted_device_is_read_through_the_descriptor(self):
        mock = self.serve('ret = dbus.types.UnixFd(os.open(%r, os.O_RDONLY))' % IMAGE)
        run = list_records(DEVICE)
        self.assertEqual(run.returncode, 0, run.stderr)
        records = json.loads(run.stdout)
        self.assertGreater(len(records), 0)
        self.assertEqual(records, self.direct)
        self.assertEqual([c[1] for c in mock.GetCalls()], ['OpenForBackup'])

    def test_a_refusal_is_an_error_that_says_why(self):
        self.serve("raise dbus.exceptions.DBusException('Not authorized to perform operation', "
                   "name='org.freedesktop.UDisks2.Error.NotAuthorized')")
        run = list_records(DEVICE)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stdout, '')
        self.assertIn('velmor-cli: %s: cannot be read (No such file or directory; the disk service: '
                      'Not authorized to perform operation)' % DEVICE, run.stderr)

    def test_a_service_that_opens_for_writing_is_refused(self):
        self.serve('ret = dbus.types.UnixFd(os.open(%r, os.O_RDWR))' % IMAGE)
        run = list_records(DEVICE)
        self.assertEqual(run.returncode, 1)
        self.assertIn('the service opened the device for writing; refused', run.stderr)

    def scratch(self):
        path = tempfile.mkdtemp(prefix='velmor-disk-')
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def mounted(self):
        run = subprocess.run(mounted_command(os.path.join(self.scratch(), 'mountinfo'), [CLI, 'list', FOLDER]),
                             capture_output=True, text=True, timeout=120)
        if 'mount' in run.stderr and run.returncode != 0 and 'velmor-cli' not in run.stderr:
            self.skipTest('no mount namespace here: ' + run.stderr.strip())
        return run

    def test_the_page_tells_once_that_a_refused_disk_was_listed_from_its_index(self):
        self.serve("raise dbus.exceptions.DBusException('Not authorized to perform operation', "
                   "name='org.freedesktop.UDisks2.Error.NotAuthorized')")
        work = self.scratch()
        sock = os.path.join(work, 'velmor.sock')
        env = dict(os.environ, VELMOR_PROFILE_DIR=os.path.join(work, 'profile'), HOME=work)
        player = subprocess.Popen([WITH_DISPLAY] + mounted_command(os.path.join(work, 'mountinfo'),
                                                                   [PLAYER, '--control', sock]),
                                  env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.addCleanup(player.communicate, None, 60)
        for _ in range(600):
            if os.path.exists(sock) or player.poll() is not None:
                break
            time.sleep(0.1)
        if not os.path.exists(sock):
            err = player.communicate(timeout=60)[1]
            if 'mount' in err and 'velmor' not in err:
                self.skipTest('no mount namespace here: ' + err.strip())
            self.fail('the player opened no control socket: ' + err)

        def send(*command):
            run = subprocess.run([PLAYER, '--command', sock, json.dumps({'command': list(command)})],
                                 capture_output=True, text=True, timeout=300)
            self.assertEqual(run.returncode, 0, run.stderr)
            return json.loads(run.stdout)

        try:
            told = texts_of('Driving_Msg_DeviceNotRead')
            first = send('search', FOLDER, {'types': 'all'})
            self.assertEqual(first['error'], 'success', first)
            self.assertEqual(first['data']['records'], len(self.direct))
            texts = [m['text'] for m in first.get('messages', [])]
            self.assertEqual(len(texts), 1, first)
            self.assertIn(texts[0], told)
            # The same reason again: the trace has it, the user is not asked twice.
            again = send('search', FOLDER, {'types': 'all'})
            self.assertEqual(again['data']['records'], len(self.direct))
            self.assertEqual(again.get('messages', []), [])
        finally:
            send('quit')

    def test_a_mounted_disk_the_service_opens_is_read_through_the_descriptor(self):
        mock = self.serve('ret = dbus.types.UnixFd(os.open(%r, os.O_RDONLY))' % IMAGE)
        run = self.mounted()
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(json.loads(run.stdout), self.direct)
        self.assertNotIn('index block heads', run.stderr)
        self.assertEqual([c[1] for c in mock.GetCalls()], ['OpenForBackup'])

    def test_a_mounted_disk_refused_is_listed_from_its_index_heads_and_says_so(self):
        self.serve("raise dbus.exceptions.DBusException('Not authorized to perform operation', "
                   "name='org.freedesktop.UDisks2.Error.NotAuthorized')")
        run = self.mounted()
        self.assertEqual(run.returncode, 0, run.stderr)
        records = json.loads(run.stdout)
        self.assertGreater(len(records), 0)
        self.assertEqual(records, self.direct)
        self.assertIn('velmor-cli: %s: the recordings of %s were listed from its index block heads: its device %s '
                      'cannot be read (No such file or directory; the disk service: Not authorized to perform '
                      'operation)' % (FOLDER, FOLDER, DEVICE), run.stderr)

    def test_no_service_is_an_error_too(self):
        run = list_records(DEVICE)
        self.assertEqual(run.returncode, 1)
        self.assertIn('velmor-cli: %s: cannot be read (No such file or directory; the disk service: ' % DEVICE,
                      run.stderr)


if __name__ == '__main__':
    unittest.main(verbosity=2)
