"""Kestrune.exe under Wine: wrong usage, refused arguments and every failure
leave the configuration as it was and touch no service."""
import os
import unittest

import winetest
from kestrune_fixture import USAGE, ProductFolder, StandinServices, access_list

services = StandinServices()
OLD_CONFIG = b"port=8443\r\nuserid=old\r\npassword=old\r\n"


def setUpModule():
    services.setup()


def tearDownModule():
    services.teardown()


class Faults(unittest.TestCase):
    def setUp(self):
        services.clear()

    def tearDown(self):
        self.assertEqual(services.events(), [], "a service was touched")

    def assert_unchanged(self, folder):
        self.assertEqual(folder.read("config/server.properties"), OLD_CONFIG)
        self.assertFalse(folder.exists("config/server.properties.tmp"))
        self.assertFalse(folder.exists("result.txt"))

    def test_wrong_argument_count_prints_usage(self):
        folder = ProductFolder("usage", config=OLD_CONFIG)
        for args in [(), ("admin",), ("admin", "secret", "extra")]:
            with self.subTest(args=args):
                self.assertEqual(folder.run(*args), (0, USAGE))
                self.assert_unchanged(folder)
                self.assertFalse(folder.exists("password.txt"))

    def test_refused_arguments_run_nothing(self):
        cases = [
            (("adm\u0100", "secret"), "Error: the user name holds a character above U+00FF"),
            (("admin\npassword=x", "secret"), "Error: the user name holds a line break"),
            (("ad\tmin", "secret"), "Error: the user name holds a line break"),
            (("admin", "p" * 8162), "Error: the password is too long"),  # its command: 8192
            (("admin", "pass\u20ac"), "Error: the password holds a character above U+00FF"),
            (("admin", 'a"b'), "Error: the password holds the character '\"'"),
            (("admin", "a%PATH%b"), "Error: the password holds the character '%'"),
            (("admin", "a!b"), "Error: the password holds the character '!'"),
            (("admin", "two words\\"), "Error: the password ends in a backslash"),
        ]
        for args, message in cases:
            with self.subTest(args=[a if len(a) < 40 else "<%d characters>" % len(a) for a in args]):
                folder = ProductFolder("refused", config=OLD_CONFIG)
                code, out = folder.run(*args)
                self.assertEqual(code, 0)
                self.assertTrue(out.startswith(message) and out.endswith("; nothing was changed\n"), out)
                self.assert_unchanged(folder)
                self.assertFalse(folder.exists("password.txt"), "the encrypt script ran")

    def test_missing_encrypt_script(self):
        # A password.txt left by an earlier run must not pass for this run's.
        folder = ProductFolder("no-script", config=OLD_CONFIG, encrypt_bat=False)
        folder.write("password.txt", b"ENC:stale\r\n")
        self.assertEqual(folder.run("admin", "secret"), (0, "Error :credential generation failed\n"))
        self.assert_unchanged(folder)
        self.assertFalse(folder.exists("password.txt"))

    def test_encrypt_script_on_the_path_is_never_run(self):
        # Only the product folder's own script may see the password.
        elsewhere = ProductFolder("path-script", config=None,
                                  encrypt_bat=b'@echo.>"%~dp0ran.txt"\r\n@>"%~1" echo ENC:elsewhere\r\n')
        path = {"PATH": elsewhere.root + os.pathsep + os.environ["PATH"]} if winetest.ON_WINDOWS else \
            {"WINEPATH": winetest.windows_path(elsewhere.root)}
        folder = ProductFolder("script-on-path", config=OLD_CONFIG, encrypt_bat=False)
        self.assertEqual(folder.run("admin", "secret", env=path), (0, "Error :credential generation failed\n"))
        self.assertFalse(elsewhere.exists("ran.txt"))
        self.assert_unchanged(folder)

    def test_stale_password_file_that_cannot_be_deleted(self):
        folder = ProductFolder("stale-read-only", config=OLD_CONFIG)
        folder.write("password.txt", b"ENC:stale\r\n")
        os.chmod(folder.path("password.txt"), 0o444)  # read-only for Windows
        self.assertEqual(folder.run("admin", "secret"),
                         (0, "Error: could not delete .\\password.txt, left by an earlier run; "
                             "nothing was changed\n"))
        self.assert_unchanged(folder)
        self.assertEqual(folder.read("password.txt"), b"ENC:stale\r\n", "the encrypt script ran")

    def test_encrypt_script_writes_nothing(self):
        folder = ProductFolder("empty-output", config=OLD_CONFIG,
                               encrypt_bat=b"@echo off\r\ntype nul > %1\r\n")
        self.assertEqual(folder.run("admin", "secret"), (0, "Error: credential setting error\n"))
        self.assert_unchanged(folder)
        self.assertEqual(folder.read("password.txt"), b"")

    def test_encrypt_script_writes_only_a_line_end(self):
        folder = ProductFolder("line-end-output", config=OLD_CONFIG,
                               encrypt_bat=b"@echo off\r\necho.> %1\r\n")
        self.assertEqual(folder.run("admin", "secret"), (0, "Error: credential setting failed\n"))
        self.assert_unchanged(folder)
        self.assertEqual(folder.read("password.txt"), b"\r\n")

    def test_missing_configuration(self):
        folder = ProductFolder("no-config", config=None)
        self.assertEqual(folder.run("admin", "secret"), (0, "Error:reinstall package\n"))
        self.assertFalse(folder.exists("config/server.properties"))
        self.assertFalse(folder.exists("password.txt"))

    def test_leftover_temporary_file_that_cannot_be_deleted(self):
        folder = ProductFolder("tmp-is-folder", config=OLD_CONFIG)
        os.mkdir(folder.path("config/server.properties.tmp"))
        self.assertEqual(folder.run("admin", "secret"),
                         (0, "Error: could not delete .\\config\\server.properties.tmp, left by an earlier run; "
                             ".\\config\\server.properties is unchanged\n"))
        self.assertEqual(folder.read("config/server.properties"), OLD_CONFIG)
        self.assertTrue(os.path.isdir(folder.path("config/server.properties.tmp")))

    def test_old_configuration_that_cannot_be_replaced(self):
        folder = ProductFolder("read-only", config=OLD_CONFIG)
        config = folder.path("config/server.properties")
        if winetest.ON_WINDOWS:  # an entry of its own, which the new file must carry (Wine stores none)
            self.assertEqual(winetest.run(["icacls", config, "/grant", "*S-1-5-19:(R)"]).returncode, 0)
        os.chmod(config, 0o444)  # read-only for Windows
        code, out = folder.run("admin", "secret")
        self.assertEqual(code, 0)
        self.assertRegex(out, r"\AError: could not replace \.\\config\\server\.properties - \S.* \(0x\w+\); the old "
                              r"configuration is still in \.\\config\\server\.properties, the new one is in "
                              r"\.\\config\\server\.properties\.tmp\n\Z")
        self.assertEqual(folder.read("config/server.properties"), OLD_CONFIG)
        self.assertEqual(folder.read("config/server.properties.tmp"),
                         b"port=8443\r\nuserid=admin\r\npassword=ENC:secret\r\n")
        if winetest.ON_WINDOWS:
            self.assertIn("NT AUTHORITY\\LOCAL SERVICE:(R)", access_list(config))
            self.assertEqual(access_list(folder.path("config/server.properties.tmp")), access_list(config))


if __name__ == "__main__":
    unittest.main()
