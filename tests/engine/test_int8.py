"""int8 convolutions against NumPy's emulation of the same arithmetic: the
input quantized by its side-file scale (round half to even, saturated to
0..255 or -128..127), the weights symmetric per output channel (scale
max |w| / 127; without VNNI oneDNN halves those read by signed inputs), the
product accumulated exactly, scaled back to float and the bias and the fused
ops applied after. Differences are float32 rounding only."""
import os
import tempfile
import unittest

import numpy as np
from onnx import helper

import numpy_ops as ref
from engine_run import make_model, run_file

rng = np.random.default_rng(15)


def quantize(x, scale, unsigned):
    lo, hi = (0, 255) if unsigned else (-128, 127)
    return np.clip(np.round(x / scale), lo, hi)


def adds_in_32_bits():
    """VNNI: without it, int8 products are added in pairs in 16 bits."""
    with open("/proc/cpuinfo") as f:
        flags = f.read().split()
    return "avx512_vnni" in flags or "avx_vnni" in flags


VNNI = adds_in_32_bits()


def int8_conv(x, w, b, scale, unsigned, pads):
    # Without VNNI oneDNN halves the weights of signed inputs (and doubles
    # the sums), so that pairs of products cannot overflow 16 bits.
    ws = np.abs(w).reshape(w.shape[0], -1).max(axis=1) / 127
    wq = np.round(w / ws[:, None, None, None])
    halved = 1 if VNNI or unsigned else 2
    wq = np.round(wq / halved)
    acc = ref.conv(quantize(x, scale, unsigned).astype(np.float64), wq.astype(np.float64), None, pads=pads)
    return acc * halved * (scale * ws)[None, :, None, None] + b[None, :, None, None]


class Int8ConvolutionTest(unittest.TestCase):
    def run_int8(self, model, side, x):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "case.onnx")
            with open(path, "wb") as f:
                f.write(model.SerializeToString())
            with open(os.path.join(tmp, "case.int8"), "w") as f:
                f.write(side)
            return run_file(path, [x], int8=True)

    def test_quantized_arithmetic(self):
        w = rng.standard_normal((24, 16, 3, 3)).astype(np.float32)
        b = rng.standard_normal(24).astype(np.float32)
        cases = [
            # (what, input, side file type, scale, then a Relu)
            # Unsigned values up to 128: without VNNI a pair of products is
            # added in 16 bits, which 128 x 127 twice still fits.
            ("unsigned input", rng.uniform(-0.5, 2, (1, 16, 9, 11)), "u8", 4 / 255, False),
            ("signed input", rng.uniform(-2, 2, (1, 16, 9, 11)), "s8", 2 / 127, False),
            ("values past the range saturate", rng.uniform(-3, 3, (1, 16, 9, 11)), "s8", 2 / 127, False),
            ("a fused Relu after the scaling", rng.uniform(-2, 2, (1, 16, 9, 11)), "s8", 2 / 127, True),
        ]
        for what, x, kind, scale, relu in cases:
            with self.subTest(what):
                x = x.astype(np.float32)
                nodes = [helper.make_node("Conv", ["x", "w", "b"], ["c" if relu else "y"], pads=[1, 1, 1, 1])]
                if relu:
                    nodes.append(helper.make_node("Relu", ["c"], ["y"]))
                model = make_model(nodes, {"x": x.shape}, {"y": (1, 24, 9, 11)}, {"w": w, "b": b})
                got = self.run_int8(model, f"{kind} {scale!r} x\n", x)["y"]
                want = int8_conv(x, w, b, np.float32(scale), kind == "u8", [1, 1, 1, 1])
                if relu:
                    want = np.maximum(want, 0)
                np.testing.assert_allclose(got, want, rtol=1e-4, atol=1e-4 * (1 + np.abs(want).max()))
                # and it did run in int8: float gives visibly other numbers
                exact = ref.conv(x.astype(np.float64), w.astype(np.float64), b, pads=[1, 1, 1, 1])
                self.assertGreater(np.abs((np.maximum(exact, 0) if relu else exact) - got).max(), 1e-2)

    def test_without_a_side_file_entry_it_stays_float(self):
        # Thin convolutions and inputs the side file does not name run in float.
        w = rng.standard_normal((4, 16, 1, 1)).astype(np.float32)
        b = np.zeros(4, np.float32)
        x = rng.uniform(0, 1, (1, 16, 5, 5)).astype(np.float32)
        model = make_model([helper.make_node("Conv", ["x", "w", "b"], ["y"])], {"x": x.shape}, {"y": (1, 4, 5, 5)},
                           {"w": w, "b": b})
        got = self.run_int8(model, "u8 0.5 x\n", x)["y"]
        np.testing.assert_allclose(got, ref.conv(x.astype(np.float64), w.astype(np.float64), b), rtol=1e-5, atol=1e-5)


if __name__ == "__main__":
    unittest.main()
