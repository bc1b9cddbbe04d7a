"""A camera session: every exported function as a method, failures raised as
VimbraError with the library's code."""

import ctypes
import os
import re

from ._errors import VimbraError
from ._library import CATALOGUE, raw
from .frames import SUBSAMPLE_FACTORS, FrameInfo, FrameLayout
from .host import MSG_FRAME, HostWindow

NAME_ENTRY = 256      # characters per entry of the device name tables
MAX_CAMERAS = 32
CAMERA_INFO_SIZE = 36

# Still image formats of save_image.
BMP, RAW, JPEG_100, JPEG_70, JPEG_20, PNG, TIFF = range(7)

# The exports that act on a session, by their lower-case name without
# underscores: get_io_port and getioport both find Vimbra_GetIOPort.
_BY_KEY = {name[len("Vimbra_"):].replace("_", "").lower(): name
           for name, entry in CATALOGUE.items()
           if name.startswith("Vimbra_") and entry.arguments[:1] == ["handle"]}


def snake_name(name):
    """The method name of an export: Vimbra_GetIOPort -> get_io_port."""
    words = re.sub(r"(?<=[a-z0-9])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])", "_", name[len("Vimbra_"):])
    return words.replace("__", "_").lower()


def _narrow(text):
    return os.fsencode(text) if text is not None else None


def _wide(text):
    return (str(text) + "\0").encode("utf-16-le") if text is not None else None


def _argument(kind, value):
    """Converts a Python value to what the catalogue's argument kind takes."""
    if kind == "char*" and isinstance(value, (str, os.PathLike)):
        return _narrow(value)
    if kind == "wchar*" and isinstance(value, (str, os.PathLike)):
        return _wide(os.fspath(value))
    if kind == "HWND" and isinstance(value, HostWindow):
        return value.handle
    if kind in ("BYTE*", "record*", "void*") and hasattr(value, "__array_interface__"):
        return value.ctypes.data  # a numpy array: the library writes into its memory
    return value


class Camera:
    """A session of the library on one camera slot.

    Camera() creates a session with a message window of its own for error
    notices; with strict (the default), a session that did not start cleanly
    is released and its first code raised. Methods are the exported functions
    in snake case without the handle and success flag: set_color_mode(24),
    get_brightness(); failures raise VimbraError."""

    def __init__(self, slot=None, window=None, strict=True):
        self.window = window if window is not None else HostWindow()
        self._own_window = window is None
        self._frame_buffer = None
        self._frame_layout = None
        self.handle = raw.Vimbra_Initialize(self.window.handle)
        if self.handle == 0:
            self._close_window()
            raise VimbraError(5, "Vimbra_Initialize")
        self.startup_errors = self.errors()
        try:
            if strict and self.startup_errors:
                raise VimbraError(self.startup_errors[0], "Vimbra_Initialize")
            if slot is not None:
                self.set_device_number(slot)
        except BaseException:
            self.release()
            raise

    # ---- lifetime --------------------------------------------------------

    def release(self):
        """Releases the session (saving its settings) and its own window;
        close() is Vimbra_Close, which only stops acquisition."""
        if self.handle:
            raw.Vimbra_Release(self.handle)
            self.handle = 0
        self._close_window()

    def _close_window(self):
        if self._own_window and self.window is not None:
            self.window.close()
            self.window = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()

    # ---- errors ----------------------------------------------------------

    def errors(self):
        """Removes and answers the recorded error codes, newest first."""
        codes = []
        while (code := raw.Vimbra_GetLastError(self.handle)) != 0:
            codes.append(code)
        return codes

    def _failed(self, function):
        codes = self.errors()
        return VimbraError(codes[0] if codes else 0, function)

    def _call(self, name, *args):
        entry = CATALOGUE[name]
        function = getattr(raw, name)
        given = [a for a in entry.arguments[1:] if a != "flag*"]
        if entry.kind == "unsupported":
            # Arguments are ignored, but a pointer left out would be read as one.
            args = tuple(args) + (None,) * (len(given) - len(args))
        elif not entry.variadic and len(args) != len(given):
            raise TypeError(f"{name} takes {len(given)} arguments ({', '.join(given)}), "
                            f"{len(args)} given")
        args = [_argument(kind, value) for kind, value in zip(given, args)] + list(args[len(given):])
        if entry.kind == "flagged":
            flag = ctypes.c_int32(0)
            result = function(self.handle, *args, ctypes.byref(flag))
            if flag.value != 1:
                raise self._failed(name)
            return result
        result = function(self.handle, *args)
        if entry.kind == "ok" and result == 0:
            raise self._failed(name)
        if entry.kind == "unsupported":
            raise VimbraError(11, name)
        return result

    def __getattr__(self, attribute):
        name = _BY_KEY.get(attribute.replace("_", "").lower())
        if name is None or attribute.startswith("_"):
            raise AttributeError(f"Camera has no method {attribute}")
        method = lambda *args: self._call(name, *args)  # noqa: E731
        method.__name__ = attribute
        method.__doc__ = f"Calls {name}{repr(getattr(raw, name))[len(name) + 1:-1]}."
        return method

    def __dir__(self):
        return sorted(set(super().__dir__()) | {snake_name(name) for name in _BY_KEY.values()})

    # ---- functions with buffers and records ------------------------------

    def enum_device(self):
        """The names of the cameras present."""
        table = ctypes.create_string_buffer(NAME_ENTRY * MAX_CAMERAS)
        count = raw.Vimbra_EnumDevice(self.handle, table)
        return [table[i * NAME_ENTRY:(i + 1) * NAME_ENTRY].split(b"\0", 1)[0].decode(errors="replace")
                for i in range(min(count, MAX_CAMERAS))]

    def enum_device_w(self):
        """The names of the cameras found by the last probe (wide form)."""
        entry = NAME_ENTRY * 2
        table = ctypes.create_string_buffer(entry * MAX_CAMERAS)
        count = raw.Vimbra_EnumDeviceW(self.handle, table)
        return [_from_wide(table[i * entry:(i + 1) * entry]) for i in range(min(count, MAX_CAMERAS))]

    def get_device_name(self, slot):
        buffer = ctypes.create_string_buffer(NAME_ENTRY)
        if raw.Vimbra_GetDeviceName(self.handle, slot, buffer, NAME_ENTRY) == 0:
            raise self._failed("Vimbra_GetDeviceName")
        return buffer.value.decode(errors="replace")

    def get_device_name_w(self, slot):
        buffer = ctypes.create_string_buffer(NAME_ENTRY * 2)
        if raw.Vimbra_GetDeviceNameW(self.handle, slot, buffer, len(buffer)) == 0:
            raise self._failed("Vimbra_GetDeviceNameW")
        return _from_wide(buffer.raw)

    def get_camera_info(self):
        """The camera's limits as a dict."""
        fields = ("size", "max_width", "max_height", "min_global_gain", "max_global_gain",
                  "min_color_gain", "max_color_gain", "min_exposure", "max_exposure")
        record = (ctypes.c_int32 * len(fields))(CAMERA_INFO_SIZE)
        if raw.Vimbra_GetCameraInfo(self.handle, record) == 0:
            raise self._failed("Vimbra_GetCameraInfo")
        return dict(zip(fields[1:], record[1:]))

    def get_capture_window_ex(self):
        """(TH, EHS, EH, TV, EVS, EV) of the video format."""
        values = [ctypes.c_int32() for _ in range(6)]
        if raw.Vimbra_GetCaptureWindowEx(self.handle, *[ctypes.byref(v) for v in values]) == 0:
            raise self._failed("Vimbra_GetCaptureWindowEx")
        return tuple(v.value for v in values)

    def get_io_port(self):
        value = ctypes.c_uint8()
        if raw.Vimbra_GetIOPort(self.handle, ctypes.byref(value), 0, 0) == 0:
            raise self._failed("Vimbra_GetIOPort")
        return value.value

    # ---- frames ------------------------------------------------------------

    def frame_layout(self):
        """The layout of the output image for the current format."""
        factor = SUBSAMPLE_FACTORS.get(raw.Vimbra_GetSubSample(self.handle), 1)
        return FrameLayout(raw.Vimbra_Width(self.handle) // factor,
                           raw.Vimbra_Height(self.handle) // factor,
                           raw.Vimbra_GetColorMode(self.handle))

    def _take(self, name, *before):
        layout = self.frame_layout()
        buffer = layout.allocate()
        if getattr(raw, name)(self.handle, *before, buffer.ctypes.data, layout.size, 1) == 0:
            raise self._failed(name)
        return layout.view(buffer)

    def snap_shot(self):
        """Takes one frame: an array of rows (top first), columns and channels
        (blue, green, red) over the buffer the library filled."""
        return self._take("Vimbra_SnapShot")

    def get_image(self):
        """The most recent converted frame, as snap_shot gives it."""
        return self._take("Vimbra_GetImage")

    def _stream(self, name, window):
        self._frame_layout = self.frame_layout()
        self._frame_buffer = self._frame_layout.allocate()  # kept while the library writes it
        target = window if window is not None else self.window
        handle = target.handle if isinstance(target, HostWindow) else target
        if getattr(raw, name)(self.handle, handle, self._frame_buffer.ctypes.data,
                              self._frame_layout.size, 1) == 0:
            raise self._failed(name)
        return self._frame_layout.view(self._frame_buffer)

    def call_back_preview(self, window=None):
        """Starts live preview that copies each frame into one buffer and posts
        a frame message to `window` (the session's own by default). Answers the
        array over that buffer: it changes with every frame."""
        return self._stream("Vimbra_CallBackPreview", window)

    def trigger(self, window=None):
        """Starts hardware-trigger mode, delivering frames as call_back_preview does."""
        return self._stream("Vimbra_Trigger", window)

    def next_frame(self, timeout_ms=6000, window=None):
        """Waits for the next frame message on `window` (the session's own by
        default): answers its FrameInfo, or raises the error a failed frame
        carries; None when nothing arrived in time. Error notices on the way
        are dropped, since they are also recorded."""
        target = window if window is not None else self.window
        while (m := target.get(timeout_ms)) is not None:
            if m.message != MSG_FRAME:
                continue
            if m.wparam == 0:
                raise VimbraError(m.lparam, "frame delivery")
            return FrameInfo.from_address(m.wparam)
        return None


def _from_wide(data):
    text = bytes(data).decode("utf-16-le", errors="replace")
    return text.split("\0", 1)[0]
