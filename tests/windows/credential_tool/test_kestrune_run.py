"""Kestrune.exe under Wine: full runs in a product folder with the real
cmd.exe and net.exe and the stand-in services."""
import os
import shutil
import unittest

import winetest
from kestrune_fixture import (AGENT, KESTRUNE_EXE, RECORDING_ENCRYPT_BAT, RESTART_ORDER, STANDIN_SERVICE_EXE,
                              SUCCESS, WEB_SERVER, WORK, ProductFolder, StandinServices, access_list,
                              ansi_bytes_of, code_page_1251_environment)

services = StandinServices()


def setUpModule():
    services.setup()


def tearDownModule():
    services.teardown()


class FullRun(unittest.TestCase):
    def setUp(self):
        services.clear()

    def test_changes_credentials_and_restarts_services_in_order(self):
        folder = ProductFolder("full-run", config=b"# server\r\nport=8443\r\nuserid=old\r\n"
                                                  b"keystore.password=keep\r\n#userid=comment\r\n"
                                                  b"  password=old\r\nUSERID=other\r\n")
        code, out = folder.run("admin", "Secret-1")
        self.assertEqual((code, out), (0, SUCCESS))
        self.assertEqual(folder.read("config/server.properties"),
                         b"# server\r\nport=8443\r\nuserid=admin\r\nkeystore.password=keep\r\n"
                         b"#userid=comment\r\npassword=ENC:Secret-1\r\nUSERID=other\r\n")
        self.assertFalse(folder.exists("password.txt"))
        self.assertFalse(folder.exists("config/server.properties.tmp"))
        self.assertEqual(services.events(), RESTART_ORDER)
        result = winetest.text(folder.read("result.txt"))
        self.assertIn(WEB_SERVER + " service was stopped", result)
        self.assertIn(AGENT + " service was started", result)

    def test_failed_service_command_does_not_stop_the_others(self):
        services.remove(WEB_SERVER)
        self.addCleanup(services.install, WEB_SERVER)
        services.clear()
        folder = ProductFolder("no-web-server")
        code, out = folder.run("admin", "secret")
        self.assertEqual((code, out), (0, SUCCESS))
        self.assertEqual(services.events(), ["stop " + AGENT, "start " + AGENT])
        self.assertEqual(folder.read("config/server.properties"),
                         b"userid=admin\r\npassword=ENC:secret\r\n")

    def test_interrupt_during_the_restart_skips_no_command(self):
        # A slow, recording net.bat first on the Path comes before net.exe: the
        # interrupt arrives while the first command runs.
        folder = ProductFolder("interrupted-restart")
        slow_net = ProductFolder("slow-net", config=None, encrypt_bat=False)
        slow_net.write("net.bat", b"@echo off\r\n>> net-calls.txt echo %1 %2\r\nping -n 4 127.0.0.1 > nul\r\n")
        path = {"PATH": slow_net.root + os.pathsep + os.environ["PATH"]} if winetest.ON_WINDOWS else \
            {"WINEPATH": winetest.windows_path(slow_net.root)}
        start = winetest.start_interruptible if winetest.ON_WINDOWS else winetest.start
        kestrune = start([KESTRUNE_EXE, "admin", "secret"], cwd=folder.root, env=path)
        self.assertTrue(winetest.wait_until(lambda: folder.exists("net-calls.txt"), 60))
        winetest.interrupt(kestrune)
        self.assertEqual(winetest.text(kestrune.communicate(timeout=120)[0]), SUCCESS)
        self.assertEqual(folder.read("net-calls.txt").splitlines()[-2:], [b"start " + AGENT.encode(),
                                                                          b"start " + WEB_SERVER.encode()])

    def test_leftover_temporary_file_linked_to_another_file(self):
        # Planted by someone who may create files in config\: never written into.
        folder = ProductFolder("linked-tmp")
        folder.write("other.txt", b"another user's file\r\n")
        os.link(folder.path("other.txt"), folder.path("config/server.properties.tmp"))
        self.assertEqual(folder.run("admin", "secret"), (0, SUCCESS))
        self.assertEqual(folder.read("other.txt"), b"another user's file\r\n")
        self.assertEqual(os.stat(folder.path("config/server.properties")).st_nlink, 1)
        self.assertFalse(folder.exists("config/server.properties.bak"))

    def test_programs_planted_in_the_product_folder_are_never_run(self):
        # Without COMSPEC the C runtime tries the current folder's cmd.exe first; Windows' cmd.exe honours
        # NoDefaultCurrentDirectoryInExePath (net on the Path only), Wine's does not: there the test reads it.
        folder = ProductFolder("planted")
        shutil.copy(STANDIN_SERVICE_EXE, folder.path("cmd.exe"))
        folder.write("net.bat", b'@>>"%~dp0net-ran.txt" echo [%NoDefaultCurrentDirectoryInExePath%]\r\n')
        result = winetest.run(["cmd", "/c", "set", "COMSPEC=&&", "cd", "/d", winetest.windows_path(folder.root),
                               "&&", winetest.windows_path(KESTRUNE_EXE), "admin", "secret"], cwd=WORK)
        self.assertEqual(winetest.text(result.stdout), SUCCESS)
        if winetest.ON_WINDOWS:
            self.assertEqual((folder.exists("net-ran.txt"), services.events()), (False, RESTART_ORDER))
        else:
            self.assertEqual(folder.read("net-ran.txt").splitlines(), [b"[1]"] * 4)

    def test_explicit_permission_on_the_configuration_is_kept(self):
        if not winetest.ON_WINDOWS:
            self.skipTest("Wine's ReplaceFileW keeps no permissions (the replace shows in the other runs)")
        folder = ProductFolder("permissions")
        config = folder.path("config/server.properties")
        explicit_entry = "NT AUTHORITY\\LOCAL SERVICE:(R)"  # not an inherited one "(I)"
        self.assertEqual(winetest.run(["icacls", config, "/grant", "*S-1-5-19:(R)"]).returncode, 0)
        self.assertEqual(folder.run("admin", "secret"), (0, SUCCESS))
        self.assertIn(explicit_entry, access_list(config))
        self.assertEqual(folder.read("config/server.properties"), b"userid=admin\r\npassword=ENC:secret\r\n")

    def test_latin1_user_name_is_one_byte_per_character(self):
        folder = ProductFolder("latin1")
        self.assertEqual(folder.run("Jos\u00e9", "secret"), (0, SUCCESS))
        self.assertEqual(folder.read("config/server.properties"),
                         b"userid=Jos\xe9\r\npassword=ENC:secret\r\n")


class TextMode(unittest.TestCase):
    def setUp(self):
        services.clear()

    def test_line_ends_and_ctrl_z(self):
        folder = ProductFolder("text-mode", config=b"crlf=1\r\nbare=2\nlone=3\rstill=3\r\n"
                                                   b"userid=old\npassword=4\r\n\x1aafter=5\r\nuserid=x\r\n")
        self.assertEqual(folder.run("admin", "secret"), (0, SUCCESS))
        self.assertEqual(folder.read("config/server.properties"),
                         b"crlf=1\r\nbare=2\r\nlone=3\rstill=3\r\nuserid=admin\r\npassword=ENC:secret\r\n")

    def test_encrypted_line_end_is_cut(self):
        # The stand-in writes "ENC:...\r\n": no empty line may follow the password.
        folder = ProductFolder("twice", config=b"userid=old\r\npassword=a\r\nnext=1\r\n")
        self.assertEqual(folder.run("admin", "one"), (0, SUCCESS))
        self.assertEqual(folder.run("admin", "two"), (0, SUCCESS))
        self.assertEqual(folder.read("config/server.properties"),
                         b"userid=admin\r\npassword=ENC:two\r\nnext=1\r\n")

    def test_long_lines_stay_whole(self):
        other = b"comment=" + b"c" * 6000 + b"\r\n"
        folder = ProductFolder("long-lines", config=b"userid=old\r\n" + other + b"password=" + b"p" * 5000
                               + b"\r\n" + b"x" * 3000 + b"userid=not-a-key\r\n")
        self.assertEqual(folder.run("admin", "secret"), (0, SUCCESS))
        self.assertEqual(folder.read("config/server.properties"), b"userid=admin\r\n" + other
                         + b"password=ENC:secret\r\n" + b"x" * 3000 + b"userid=not-a-key\r\n")


class Passwords(unittest.TestCase):
    def setUp(self):
        services.clear()

    def test_long_password(self):
        # 8161 characters: the encrypt command is 8191, the longest the
        # interpreter takes (Wine's cmd warns that the line may be cut, and
        # runs it whole).
        for length in [300, 8161]:
            with self.subTest(length=length):
                password = "p" * length
                folder = ProductFolder("long-password")
                code, out = folder.run("admin", password)
                self.assertEqual(code, 0)
                self.assertTrue(out.endswith(SUCCESS), out[-200:])
                self.assertEqual(folder.read("config/server.properties"),
                                 b"userid=admin\r\npassword=ENC:" + password.encode() + b"\r\n")

    def test_password_beyond_ascii_reaches_the_script_as_given(self):
        # Under code page 1251 the narrow runner handed the script "\u0439\u044f"
        # for "\u00e9\u00ff". The user name stays one byte per character.
        code_pages = [("default", None)]
        if winetest.ON_WINDOWS:
            with self.subTest(code_page="1251"):
                self.skipTest("Windows takes the ANSI code page from the system's setting, "
                              "not from a program's environment")
        else:
            cp1251 = code_page_1251_environment()  # Wine: from the environment's locale
            self.assertEqual(ansi_bytes_of("\u0439", cp1251), b"\xe9", "code page 1251 is not in effect")
            code_pages.append(("1251", cp1251))
        for code_page, env in code_pages:
            for password in ["\u00e9\u00ff", "Zo\u00eb x", "a\u00a0b", "\u00ff", "\u00a1\u00bf\u00d7\u00f7"]:
                with self.subTest(code_page=code_page, password=password):
                    folder = ProductFolder("beyond-ascii", encrypt_bat=RECORDING_ENCRYPT_BAT)
                    self.assertEqual(folder.run("Jos\u00e9", password, env=env), (0, SUCCESS))
                    self.assertEqual(folder.read("received.txt"), (password + "\r\n").encode("utf-16-le"))
                    self.assertEqual(folder.read("config/server.properties"),
                                     b"userid=Jos\xe9\r\npassword=ENC:recorded\r\n")

    def test_interpreter_special_characters_reach_the_script_whole(self):
        for password in ["x&echo pwned>pwned.txt", "a|b", "a<b", "(a)", "a^b", "a,b;c=d",
                         "two words", "tab\there", "x&&del config\\server.properties"]:
            with self.subTest(password=password):
                folder = ProductFolder("special")
                self.assertEqual(folder.run("admin", password), (0, SUCCESS))
                self.assertEqual(folder.read("config/server.properties"),
                                 b"userid=admin\r\npassword=ENC:" + password.encode() + b"\r\n")
                self.assertFalse(folder.exists("pwned.txt"))
                self.assertFalse(folder.exists("b"))


if __name__ == "__main__":
    unittest.main()
