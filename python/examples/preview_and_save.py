#!/usr/bin/env python3
"""Previews a camera for a few seconds, printing the frames received and the
frame rate, then takes a snapshot and saves it in every still image format.

    python3 preview_and_save.py [--camera N] [--seconds S] [--output DIR]
"""

import argparse
import os
import sys
import time

import vimbra

FORMATS = [("bmp", vimbra.BMP), ("raw", vimbra.RAW), ("jpg", vimbra.JPEG_100),
           ("png", vimbra.PNG), ("tif", vimbra.TIFF)]


def preview(camera, seconds):
    """Live preview into a buffer of ours; answers the last frame seen."""
    frame = camera.call_back_preview()
    count, started = 0, time.monotonic()
    terminal = sys.stdout.isatty()  # one line rewritten on a terminal, a line per frame in a log
    start, end = ("\r", "") if terminal else ("", "\n")
    while time.monotonic() - started < seconds:
        info = camera.next_frame(timeout_ms=6000)
        if info is None:
            raise SystemExit(f"{os.path.basename(sys.argv[0])}: no frame arrived within 6 s")
        count += 1
        print(f"{start}{count} frames, {info.frame_rate_x10 / 10:.1f} frames/s, "
              f"{info.width} x {info.height}, mean {frame.mean():.1f}", end=end, flush=True)
    if terminal:
        print()
    camera.stop_preview()
    return frame.copy()   # the buffer is rewritten while preview runs


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--camera", type=int, default=0, help="camera slot 0..31")
    parser.add_argument("--seconds", type=float, default=3, help="preview time")
    parser.add_argument("--output", default="vimbra-python", help="folder for the files")
    args = parser.parse_args()
    program = os.path.basename(sys.argv[0])
    try:
        os.makedirs(args.output, exist_ok=True)
    except OSError as error:
        print(f"{program}: cannot make {args.output}: {error.strerror}", file=sys.stderr)
        return 1
    try:
        import numpy  # noqa: F401  frames are numpy arrays
    except ImportError:
        print(f"{program}: needs numpy (Debian: python3-numpy)", file=sys.stderr)
        return 1
    try:
        with vimbra.Camera(slot=args.camera or None) as camera:
            print("cameras:", ", ".join(camera.enum_device()) or "none")
            camera.set_color_mode(24)
            preview(camera, args.seconds)
            frame = camera.snap_shot()
            print(f"snapshot: {frame.shape[1]} x {frame.shape[0]}, {frame.dtype}, "
                  f"mean B, G, R = {frame.reshape(-1, frame.shape[-1]).mean(axis=0).round(1)}")
            for extension, code in FORMATS:
                path = os.path.join(args.output, f"snapshot.{extension}")
                camera.save_image(path, code)
                print(f"saved {path} ({os.path.getsize(path)} bytes)")
    except (vimbra.VimbraError, vimbra.NotExportedError, vimbra.LibraryNotFoundError) as error:
        print(f"{program}: {error}", file=sys.stderr)
        return getattr(error, "code", 1) or 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
