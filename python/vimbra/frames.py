"""Frames as numpy arrays over the buffers the library fills, without copies."""

import ctypes

# The colour mode answers of Vimbra_GetColorMode and the images they give:
# bits per pixel, channels (blue, green, red, then a fourth) and sample type.
IMAGE_FORMATS = {
    8: (8, 1, "u1"),
    12: (16, 1, "<u2"),
    24: (24, 3, "u1"),
    32: (32, 4, "u1"),
    44: (48, 3, "<u2"),
    60: (64, 4, "<u2"),
}

# Sub-sample modes and the factor by which they shrink the frame.
SUBSAMPLE_FACTORS = {0: 1, 1: 2, 2: 4, 17: 2, 18: 4}


class FrameInfo(ctypes.Structure):
    """The frame information record a frame message points at."""

    _fields_ = [("size", ctypes.c_int32), ("width", ctypes.c_int32),
                ("height", ctypes.c_int32), ("bits_per_pixel", ctypes.c_int32),
                ("frame_rate_x10", ctypes.c_int32), ("reserved", ctypes.c_int32),
                ("data", ctypes.c_void_p)]


class FrameLayout:
    """Size and row layout of an output image: rows are padded to 4 bytes."""

    def __init__(self, width, height, color_mode):
        if color_mode not in IMAGE_FORMATS:
            raise ValueError(f"unknown colour mode answer {color_mode}")
        self.width, self.height = width, height
        self.bits_per_pixel, self.channels, self.dtype = IMAGE_FORMATS[color_mode]
        self.stride = (width * self.bits_per_pixel // 8 + 3) // 4 * 4
        self.size = self.stride * height

    @property
    def shape(self):
        if self.channels == 1:
            return (self.height, self.width)
        return (self.height, self.width, self.channels)

    def allocate(self):
        """A zeroed buffer of the frame's size, as a flat numpy byte array."""
        import numpy
        return numpy.zeros(self.size, dtype=numpy.uint8)

    def view(self, buffer):
        """The pixels of `buffer` (a flat byte array of this layout) as an
        array of rows, columns and channels, sharing its memory."""
        import numpy
        dtype = numpy.dtype(self.dtype)
        pixel = self.bits_per_pixel // 8
        strides = (self.stride, pixel) if self.channels == 1 else (self.stride, pixel, dtype.itemsize)
        return numpy.ndarray(self.shape, dtype=dtype, buffer=buffer, strides=strides)
