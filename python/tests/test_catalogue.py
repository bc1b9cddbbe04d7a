"""The binding's table of exports against the public header and itself."""

import os
import pathlib
import re
import subprocess
import sys
import unittest

import vimbra
from vimbra import _library

HEADER = pathlib.Path(__file__).resolve().parents[2] / "include" / "VimbraSdk_740QX_RDL.h"


def header_declarations():
    """Exported functions declared by the header, with their argument counts."""
    text = HEADER.read_text()
    found = {}
    declaration = r"VIMBRA_API\s+\w+\s*\*?\s*(\w+)\(([^)]*)\)\s*(?:VIMBRA_NOEXCEPT)?\s*;"
    for name, arguments in re.findall(declaration, text):
        arguments = " ".join(arguments.split())
        found[name] = 0 if arguments in ("", "void") else arguments.count(",") + 1
    return found


class CatalogueTest(unittest.TestCase):
    def test_lists_the_whole_interface(self):
        kinds = {"handle", "ok", "value", "flagged", "count", "unsupported", "host", "window"}
        functions = [e for e in vimbra.CATALOGUE.values() if e.name.startswith("Vimbra_")]
        self.assertEqual(len(functions), 124)
        for entry in vimbra.CATALOGUE.values():
            with self.subTest(entry.name):
                self.assertIn(entry.kind, kinds)
                for argument in entry.arguments:
                    self.assertIn(argument, _library.ARGUMENT_TYPES)
                if entry.kind == "flagged":
                    self.assertEqual(entry.arguments[-1], "flag*")
                self.assertEqual(entry.name.startswith("VimbraHost_"),
                                 entry.kind in ("host", "window"))
                if entry.name.startswith("Vimbra_") and entry.name not in (
                        "Vimbra_Initialize", "Vimbra_GetDllVersion"):
                    self.assertEqual(entry.arguments[0], "handle")

    @unittest.skipUnless(HEADER.exists(), "needs the source tree's header")
    def test_agrees_with_the_header(self):
        for name, count in header_declarations().items():
            with self.subTest(name):
                self.assertIn(name, vimbra.CATALOGUE)
                entry = vimbra.CATALOGUE[name]
                self.assertEqual(len(entry.arguments) + entry.variadic, count)

    @unittest.skipUnless(HEADER.exists(), "needs the source tree's header")
    def test_version_agrees_with_the_header(self):
        self.assertIn(f'#define VIMBRA_VERSION_STRING "{vimbra.__version__}"', HEADER.read_text())

    @unittest.skipUnless(HEADER.exists(), "needs the source tree's header")
    def test_error_codes_agree_with_the_header(self):
        codes = {int(c) for c in re.findall(r"VIMBRA_ERR_\w+ = (\d+)", HEADER.read_text())}
        self.assertEqual(codes, set(vimbra.MEANINGS))


class LoadingTest(unittest.TestCase):
    def run_python(self, code, **env):
        environment = dict(os.environ, **env)
        return subprocess.run([sys.executable, "-c", code], env=environment,
                              capture_output=True, text=True, timeout=60)

    def test_missing_library_names_the_variable_when_first_used(self):
        result = self.run_python(
            "import vimbra\n"
            "try:\n    vimbra.dll_version()\n"
            "except vimbra.LibraryNotFoundError as e:\n    print('not found:', e)\n",
            VIMBRA_LIBRARY="/nonexistent/libVimbraSdk_740QX_RDL.so.1")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("not found:", result.stdout)
        self.assertIn("VIMBRA_LIBRARY", result.stdout)

    def test_a_name_the_library_lacks_fails_only_when_called(self):
        other = _library.Library("libc.so.6")
        self.assertFalse(other.exports("Vimbra_Preview"))
        with self.assertRaises(vimbra.NotExportedError) as caught:
            other.function("Vimbra_Preview")
        self.assertIn("Vimbra_Preview", str(caught.exception))
        self.assertIn("libc.so.6", str(caught.exception))

    def test_names_outside_the_interface_are_not_functions(self):
        with self.assertRaises(AttributeError):
            vimbra.raw.Vimbra_Nothing
        self.assertIn("Vimbra_SnapShot", dir(vimbra.raw))


if __name__ == "__main__":
    unittest.main()
