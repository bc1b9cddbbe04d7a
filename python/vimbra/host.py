"""Message windows of the library for hosts without Win32: pass a window
wherever the interface asks for an HWND and read what the library posts to it."""

import ctypes
from collections import namedtuple

from ._library import HostCallback, HostMessage, raw

MSG_FRAME = 0x8002   # a frame was delivered; wParam is the frame information record
MSG_ERROR = 0x8003   # an error was recorded; lParam is its code
WAIT_FOREVER = 0xFFFFFFFF

Message = namedtuple("Message", "window message wparam lparam")


class HostWindow:
    """A message window of the library; a context manager that destroys it."""

    def __init__(self):
        self.handle = raw.VimbraHost_CreateWindow()
        if not self.handle:
            raise OSError("VimbraHost_CreateWindow could not create a window")
        self._callback = None

    @property
    def _as_parameter_(self):
        return ctypes.c_void_p(self.handle)

    def close(self):
        if self.handle:
            raw.VimbraHost_DestroyWindow(self.handle)
            self.handle = None
            self._callback = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def post(self, message, wparam=0, lparam=0):
        """Posts a message to this window; False when its queue is full."""
        return raw.VimbraHost_PostMessage(self.handle, message, wparam, lparam) == 1

    def _receive(self, read):
        m = HostMessage()
        result = read(ctypes.byref(m))
        if result < 0:
            raise ValueError("the window no longer exists")
        if result == 0:
            return None
        return Message(m.window, m.message, m.wParam, m.lParam)

    def peek(self):
        """The oldest queued message, or None when the queue is empty."""
        return self._receive(lambda m: raw.VimbraHost_PeekMessage(self.handle, m))

    def get(self, timeout_ms=None):
        """Waits for the oldest message (no limit when timeout_ms is None);
        None when none arrived in time."""
        timeout = WAIT_FOREVER if timeout_ms is None else int(timeout_ms)
        return self._receive(lambda m: raw.VimbraHost_GetMessage(self.handle, m, timeout))

    def drain(self):
        """Every queued message, oldest first."""
        messages = []
        while (m := self.peek()) is not None:
            messages.append(m)
        return messages

    def error_codes(self):
        """The error codes among the queued messages (the others are dropped)."""
        return [m.lparam for m in self.drain() if m.message == MSG_ERROR]

    def set_callback(self, function):
        """Calls function(Message) on a library thread for every message
        instead of queueing it; None returns to queueing."""
        if function is None:
            self._callback = None
            raw.VimbraHost_SetCallback(self.handle, HostCallback(), None)
            return

        def deliver(_user, window, message, wparam, lparam):
            function(Message(window, message, wparam, lparam))

        self._callback = HostCallback(deliver)  # kept alive while the library may call it
        raw.VimbraHost_SetCallback(self.handle, self._callback, None)
