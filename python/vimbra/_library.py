"""Finds and loads the shared library, and binds its functions from the
catalogue of exports, each one when it is first called."""

import ctypes
import os
import pathlib
from ctypes import POINTER, c_int32, c_size_t, c_ssize_t, c_uint32, c_void_p

from ._errors import LibraryNotFoundError, NotExportedError

LIBRARY_NAME = "libVimbraSdk_740QX_RDL.so.1"
LIBRARY_VARIABLE = "VIMBRA_LIBRARY"
_PACKAGE_DIR = pathlib.Path(__file__).resolve().parent


class HostMessage(ctypes.Structure):
    """A message read from a host window (VimbraHostMessage)."""

    _fields_ = [("window", c_void_p), ("message", c_uint32),
                ("wParam", c_size_t), ("lParam", c_ssize_t)]


HostCallback = ctypes.CFUNCTYPE(None, c_void_p, c_void_p, c_uint32, c_size_t, c_ssize_t)

# C types of the argument kinds named in the catalogue; every pointer is
# passed as an address, so bytes, ctypes buffers and numpy addresses all fit.
ARGUMENT_TYPES = {
    "handle": c_int32, "int": c_int32, "uint": c_uint32,
    "int*": POINTER(c_int32), "flag*": POINTER(c_int32),
    "BYTE*": c_void_p, "char*": c_void_p, "wchar*": c_void_p, "record*": c_void_p,
    "void*": c_void_p, "HWND": c_void_p, "msg*": POINTER(HostMessage),
    "callback": HostCallback, "uintptr": c_size_t, "intptr": c_ssize_t,
    "ulong": ctypes.c_ulong,
}


class Entry:
    """One line of the catalogue: name, result kind and argument types."""

    def __init__(self, name, kind, arguments):
        self.name = name
        self.kind = kind
        self.variadic = arguments[-1:] == ["..."]
        self.arguments = arguments[:-1] if self.variadic else arguments


def _read_catalogue():
    entries = {}
    with open(_PACKAGE_DIR / "catalogue.txt", encoding="utf-8") as lines:
        for line in lines:
            fields = line.split()
            if fields and not fields[0].startswith("#"):
                entries[fields[0]] = Entry(fields[0], fields[1], fields[2:])
    return entries


CATALOGUE = _read_catalogue()


def _candidates():
    """Where to look for the library, in order, as (path, how it was chosen)."""
    named = os.environ.get(LIBRARY_VARIABLE)
    if named:
        return [(named, f"${LIBRARY_VARIABLE}")]
    found = []
    try:
        from . import _install_location
        found.append((str((_PACKAGE_DIR / _install_location.LIBRARY).resolve()),
                      "the installed tree"))
    except ImportError:
        pass
    found.append((LIBRARY_NAME, "the loader's search path"))
    return found


class Library:
    """The loaded library: `function(name)` answers a bound ctypes function."""

    def __init__(self, path):
        self.path = path
        self._dll = ctypes.CDLL(path)
        self._bound = {}

    def exports(self, name):
        return hasattr(self._dll, name)

    def function(self, name):
        bound = self._bound.get(name)
        if bound is not None:
            return bound
        entry = CATALOGUE[name]
        try:
            bound = getattr(self._dll, name)
        except AttributeError:
            raise NotExportedError(name, self.path) from None
        bound.restype = c_void_p if entry.kind == "window" else c_int32
        # A variadic function takes its arguments as given (converted by the caller).
        bound.argtypes = None if entry.variadic else [ARGUMENT_TYPES[a] for a in entry.arguments]
        self._bound[name] = bound
        return bound


_loaded = None


def library():
    """The library, loaded on first use from $VIMBRA_LIBRARY, the installed
    tree next to this package, or the loader's search path."""
    global _loaded
    if _loaded is None:
        tried = []
        for path, how in _candidates():
            try:
                _loaded = Library(path)
                break
            except OSError as error:
                tried.append(f"{path} ({how}): {error}")
        else:
            raise LibraryNotFoundError(
                "the VimbraSdk library could not be loaded; install it with `cmake --install`, "
                f"or set {LIBRARY_VARIABLE} to the path of {LIBRARY_NAME}. Tried: "
                + "; ".join(tried))
    return _loaded


class _Function:
    """A catalogue function that binds itself on its first call, so a name
    the library does not export fails only when it is called."""

    def __init__(self, entry):
        self.entry = entry
        self.__name__ = entry.name

    def __call__(self, *args):
        function = library().function(self.entry.name)
        if self.entry.variadic:
            args = [a if isinstance(a, ctypes._SimpleCData) else c_int32(a) for a in args]
        return function(*args)

    def __repr__(self):
        return f"<{self.entry.name} {self.entry.kind} ({', '.join(self.entry.arguments)})>"


class Functions:
    """Every exported function by its C name: `raw.Vimbra_Width(handle)`."""

    def __init__(self):
        self._functions = {name: _Function(entry) for name, entry in CATALOGUE.items()}

    def __getattr__(self, name):
        try:
            return self._functions[name]
        except KeyError:
            raise AttributeError(f"{name} is not a function of the interface") from None

    def __dir__(self):
        return sorted(self._functions)


raw = Functions()
