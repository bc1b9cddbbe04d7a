"""Python binding of the VimbraSdk_740QX_RDL camera library (ctypes).

    import vimbra
    with vimbra.Camera() as camera:
        camera.set_color_mode(24)
        frame = camera.snap_shot()      # numpy array, rows x columns x (B, G, R)

Every exported function is also available by its C name in `vimbra.raw`.
The library is loaded from $VIMBRA_LIBRARY, from the tree this package was
installed into by `cmake --install`, or from the loader's search path."""

from ._errors import MEANINGS, LibraryNotFoundError, NotExportedError, VimbraError, meaning
from ._library import CATALOGUE, LIBRARY_NAME, library, raw
from .camera import BMP, JPEG_20, JPEG_70, JPEG_100, PNG, RAW, TIFF, Camera
from .frames import FrameInfo, FrameLayout
from .host import MSG_ERROR, MSG_FRAME, HostWindow, Message

__version__ = "1.3.2.0"


def dll_version():
    """The number the library answers for its version (26412319 for 1.3.2.0)."""
    return raw.Vimbra_GetDllVersion()


def library_path():
    """The path the library was loaded from."""
    return library().path


def exported(name):
    """Whether the loaded library exports `name`."""
    return library().exports(name)


__all__ = [
    "BMP", "CATALOGUE", "Camera", "FrameInfo", "FrameLayout", "HostWindow", "JPEG_100",
    "JPEG_20", "JPEG_70", "LIBRARY_NAME", "LibraryNotFoundError", "MEANINGS", "MSG_ERROR",
    "MSG_FRAME", "Message", "NotExportedError", "PNG", "RAW", "TIFF", "VimbraError",
    "dll_version", "exported", "library", "library_path", "meaning", "raw",
]
