#!/usr/bin/python3
"""While tavrin-dfu writes, logind holds its "block" inhibitor lock against
shutdown and sleep: the lock is there by the first block and gone once the
result is in, after a success and after a failure alike.

Runs logind's mock (python3-dbusmock) on a private system bus; the program
under test is the demo flasher, given as the only argument."""
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import dbusmock

PROGRAM = sys.argv.pop(1)
MANAGER = 'org.freedesktop.login1.Manager'
EXPECTED = ('shutdown:sleep', os.path.basename(PROGRAM), 'Writing firmware to the accessory',
            'block')


class SessionInhibitor(dbusmock.DBusTestCase):

    @classmethod
    def setUpClass(cls):
        cls.start_system_bus()
        cls.folder = tempfile.TemporaryDirectory()
        cls.firmware = os.path.join(cls.folder.name, 'firmware.dfu')
        # The demo's scenarios strike at a share of its own 64 KiB image.
        subprocess.run([PROGRAM, 'pack', '--test-image', '65536', cls.firmware], check=True,
                       stdout=subprocess.DEVNULL)

    def setUp(self):
        self.mock, self.logind = self.spawn_server_template('logind', {},
                                                            stdout=subprocess.DEVNULL)

    def tearDown(self):
        self.mock.terminate()
        self.mock.wait()

    def inhibitors(self):
        return [tuple(str(field) for field in row[:4])
                for row in self.logind.ListInhibitors(dbus_interface=MANAGER)]

    def write(self, scenario, status):
        during = None
        with subprocess.Popen(
                [PROGRAM, 'upgrade', '--json', '--no-reset', '--scenario', scenario,
                 self.firmware], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                text=True) as program:
            for line in program.stdout:
                if during is None and '"event":"progress"' in line:
                    during = self.inhibitors()
        self.assertEqual(program.returncode, status)
        self.assertEqual(during, [EXPECTED])
        # logind drops the lock when the program closes its descriptor.
        deadline = time.monotonic() + 5
        while self.inhibitors() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.inhibitors(), [])

    def test_held_through_a_successful_write(self):
        self.write('healthy', 0)

    def test_held_through_a_failed_write(self):
        self.write('write-fails', 5)

    def test_a_bus_that_never_answers_holds_up_nothing(self):
        """A "system bus" that accepts the connection and never says a word:
        the write goes on without the lock, after about 2 s, and says so."""
        small = os.path.join(self.folder.name, 'small.dfu')
        subprocess.run([PROGRAM, 'pack', '--test-image', '4096', small], check=True,
                       stdout=subprocess.DEVNULL)
        path = os.path.join(self.folder.name, 'silent')
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS='unix:path=' + path, TAVRIN_DFU_VERBOSE='1')
        with socket.socket(socket.AF_UNIX) as bus:
            bus.bind(path)
            bus.listen()
            bus.settimeout(10)
            with subprocess.Popen([PROGRAM, 'upgrade', '--no-reset', small], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True) as program:
                connection, _ = bus.accept()
                try:
                    _, errors = program.communicate(timeout=10)
                except subprocess.TimeoutExpired:
                    program.kill()
                    self.fail('still waiting for the system bus after 10 s')
                finally:
                    connection.close()
        self.assertEqual(program.returncode, 0, errors)
        self.assertIn('Shutdown and sleep are not held off during the write', errors)


if __name__ == '__main__':
    unittest.main(verbosity=2)
