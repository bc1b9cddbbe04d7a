"""The binding against the library and its virtual camera."""

import ctypes
import threading
import unittest

import vimbra
from vimbra import raw

try:
    import numpy
except ImportError:
    numpy = None


class HostWindowTest(unittest.TestCase):
    def test_messages_come_back_in_order(self):
        with vimbra.HostWindow() as window:
            for n in range(3):
                self.assertTrue(window.post(0x8000 + n, n, -n))
            self.assertEqual(window.peek(), vimbra.Message(window.handle, 0x8000, 0, 0))
            self.assertEqual(window.get(0).message, 0x8001)
            self.assertEqual(window.drain(), [vimbra.Message(window.handle, 0x8002, 2, -2)])
            self.assertIsNone(window.peek())
            self.assertIsNone(window.get(10))

    def test_callback_receives_instead_of_the_queue(self):
        received = []
        done = threading.Event()

        def on_message(message):
            received.append(message.lparam)
            if len(received) == 3:
                done.set()

        with vimbra.HostWindow() as window:
            window.set_callback(on_message)
            for code in (5, 8, 13):
                window.post(vimbra.MSG_ERROR, 0, code)
            self.assertTrue(done.wait(5))
            window.set_callback(None)
            window.post(vimbra.MSG_ERROR, 0, 1)
            self.assertEqual(window.error_codes(), [1])
        self.assertEqual(received, [5, 8, 13])

    def test_a_destroyed_window_is_refused(self):
        window = vimbra.HostWindow()
        handle = window.handle
        window.close()
        message = vimbra._library.HostMessage()
        self.assertEqual(raw.VimbraHost_PeekMessage(handle, ctypes.byref(message)), -1)
        self.assertEqual(raw.VimbraHost_PostMessage(handle, vimbra.MSG_ERROR, 0, 1), 0)


class SessionTest(unittest.TestCase):
    def setUp(self):
        self.camera = vimbra.Camera(strict=False)
        self.addCleanup(self.camera.release)

    def test_version_needs_no_session(self):
        self.assertEqual(vimbra.dll_version(), 26412319)

    def test_startup_errors_carry_known_codes(self):
        for code in self.camera.startup_errors:
            self.assertIn(code, vimbra.MEANINGS)

    def test_unknown_handles_answer_their_no_instance_values(self):
        for name, answer in [("Vimbra_GetColorMode", -1), ("Vimbra_GetWaitTime", -1),
                             ("Vimbra_Width", 0), ("Vimbra_GetLastError", 0),
                             ("Vimbra_Release", 0)]:
            with self.subTest(name):
                self.assertEqual(getattr(raw, name)(0), answer)

    def test_methods_reach_the_session(self):
        self.camera.set_wait_time(25)
        self.assertEqual(self.camera.get_wait_time(), 25)
        self.assertGreater(self.camera.width(), 0)
        self.assertIn(self.camera.get_color_mode(), (8, 12, 24, 32, 44, 60))

    def test_every_session_export_is_a_method(self):
        names = dir(self.camera)
        for export, method in [("Vimbra_GetIOPort", "get_io_port"),
                               ("Vimbra_ReadSromID", "read_srom_id"),
                               ("Vimbra_SetBayerGainRGB", "set_bayer_gain_rgb"),
                               ("Vimbra_Fpga_ReadRegister", "fpga_read_register"),
                               ("Vimbra_GetColorGainGreen1", "get_color_gain_green1")]:
            self.assertEqual(vimbra.camera.snake_name(export), method)
        for export, entry in vimbra.CATALOGUE.items():
            if entry.arguments[:1] == ["handle"]:
                with self.subTest(export):
                    method = vimbra.camera.snake_name(export)
                    self.assertIn(method, names)
                    self.assertTrue(callable(getattr(self.camera, method)))
        self.assertNotIn("initialize", names)  # sessions come from Camera()

    def test_failure_without_a_code_still_raises(self):
        with self.assertRaises(vimbra.VimbraError) as caught:
            self.camera.set_wait_time(-1)
        self.assertEqual(caught.exception.code, 0)
        self.assertEqual(caught.exception.function, "Vimbra_SetWaitTime")

    def test_unsupported_functions_raise_code_11(self):
        # function, arguments, whether the library posts code 11 to the window
        cases = [("fps", (30,), True), ("set_crossbar", (), True),
                 ("fpga_write_register", (1, 2), True),
                 ("get_video_format", (), False), ("get_sampling_rate", (), False)]
        self.camera.window.drain()
        for method, args, notifies in cases:
            with self.subTest(method):
                with self.assertRaises(vimbra.VimbraError) as caught:
                    getattr(self.camera, method)(*args)
                self.assertEqual((caught.exception.code, caught.exception.meaning),
                                 (11, vimbra.meaning(11)))
                self.assertEqual(self.camera.window.error_codes(), [11] if notifies else [])
                self.assertEqual(self.camera.errors(), [])

    def test_wrong_argument_count_is_a_type_error(self):
        with self.assertRaises(TypeError):
            self.camera.set_wait_time()

    def test_next_frame_reads_the_record_and_raises_failed_frames(self):
        self.assertEqual(ctypes.sizeof(vimbra.FrameInfo), 32)
        record = vimbra.FrameInfo(32, 640, 480, 24, 123, 0, None)
        window = self.camera.window
        window.drain()
        window.post(vimbra.MSG_ERROR, 0, 8)            # notices on the way are passed over
        window.post(vimbra.MSG_FRAME, ctypes.addressof(record), 0)
        window.post(vimbra.MSG_FRAME, 0, 13)           # the worker reports a failed wait
        info = self.camera.next_frame(timeout_ms=100)
        self.assertEqual((info.width, info.height, info.bits_per_pixel, info.frame_rate_x10),
                         (640, 480, 24, 123))
        with self.assertRaises(vimbra.VimbraError) as caught:
            self.camera.next_frame(timeout_ms=100)
        self.assertEqual(caught.exception.code, 13)
        self.assertIsNone(self.camera.next_frame(timeout_ms=10))

    def test_recorded_code_is_raised(self):
        if not vimbra.exported("Vimbra_SetColorMode"):
            self.skipTest("Vimbra_SetColorMode is not exported yet")
        with self.assertRaises(vimbra.VimbraError) as caught:
            self.camera.set_color_mode(7)
        self.assertEqual(caught.exception.code, 9)


@unittest.skipIf(numpy is None, "needs numpy (python3-numpy)")
class FrameTest(unittest.TestCase):
    def test_layouts_of_every_colour_mode(self):
        # width, height, colour mode answer, stride, shape, sample type
        cases = [
            (641, 3, 8, 644, (3, 641), numpy.uint8),
            (641, 3, 12, 1284, (3, 641), numpy.uint16),
            (641, 3, 24, 1924, (3, 641, 3), numpy.uint8),
            (641, 3, 32, 2564, (3, 641, 4), numpy.uint8),
            (641, 3, 44, 3848, (3, 641, 3), numpy.uint16),
            (641, 3, 60, 5128, (3, 641, 4), numpy.uint16),
        ]
        for width, height, mode, stride, shape, dtype in cases:
            with self.subTest(mode=mode):
                layout = vimbra.FrameLayout(width, height, mode)
                self.assertEqual((layout.stride, layout.size), (stride, stride * height))
                view = layout.view(layout.allocate())
                self.assertEqual((view.shape, view.dtype), (shape, numpy.dtype(dtype)))
        with self.assertRaises(ValueError):
            vimbra.FrameLayout(640, 480, 16)

    def test_view_shares_the_buffer_and_skips_row_fill(self):
        layout = vimbra.FrameLayout(641, 2, 44)
        buffer = layout.allocate()
        view = layout.view(buffer)
        self.assertTrue(numpy.shares_memory(view, buffer))
        # Second row, last pixel, red sample: little-endian word 0x0FFF.
        at = layout.stride + 640 * 6 + 4
        buffer[at:at + 2] = [0xFF, 0x0F]
        self.assertEqual(view[1, 640, 2], 0x0FFF)
        self.assertEqual(int(view.sum()), 0x0FFF)

    def test_snapshot_fills_an_array_without_a_copy(self):
        if not vimbra.exported("Vimbra_SnapShot"):
            self.skipTest("Vimbra_SnapShot is not exported yet")
        with vimbra.Camera(strict=False) as camera:
            if camera.startup_errors:
                self.skipTest(f"the session did not start: {camera.startup_errors}")
            camera.set_color_mode(24)
            frame = camera.snap_shot()
            layout = camera.frame_layout()
            self.assertEqual(frame.shape, layout.shape)
            self.assertGreater(int(frame.max()), 0)
            self.assertEqual(frame.base.size, layout.size)


if __name__ == "__main__":
    unittest.main()
