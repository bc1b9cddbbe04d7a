"""Error codes of the library and the exceptions that carry them."""

# The codes Vimbra_GetLastError answers, with what each means.
MEANINGS = {
    1: "no device, or the call is refused in this state, or no image yet",
    2: "no camera in the selected slot, or it is in use by another program",
    3: "a worker thread or its event could not be created",
    4: "the preview window failed, or no stored size matches",
    5: "initialisation, allocation or host buffer failure",
    6: "register access or the start of streaming failed",
    7: "the video format is invalid",
    8: "a frame transfer failed, or acquisition did not start",
    9: "an argument is out of range or a required pointer is missing",
    11: "not supported by this camera",
    12: "a file operation failed",
    13: "no frame arrived in time, or the transfer failed",
}


def meaning(code):
    """What an error code means, in words."""
    if code == 0:
        return "failed without a recorded reason"
    return MEANINGS.get(code, "unknown error code")


class VimbraError(Exception):
    """A library call failed: `code` is the library's error code, `meaning`
    its description and `function` the exported function that failed."""

    def __init__(self, code, function=None):
        self.code = code
        self.meaning = meaning(code)
        self.function = function
        where = f"{function}: " if function else ""
        super().__init__(f"{where}error {code}: {self.meaning}")


class LibraryNotFoundError(OSError):
    """The shared library could not be found or loaded."""


class NotExportedError(NotImplementedError):
    """The loaded library does not export a function of the interface."""

    def __init__(self, name, path):
        self.name = name
        self.path = path
        super().__init__(f"{name} is not exported by {path} (a library that predates it)")
