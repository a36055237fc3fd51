"""The TFLite converter on small graphs built here: OpenCV runs the ONNX it
writes, and the results are compared with TFLite's semantics written out in
numpy (NHWC, TF's SAME padding, OHWI weights)."""
import os
import subprocess
import sys
import tempfile
import unittest

import cv2
import numpy as np
import onnx

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools", "convert")
sys.path.insert(0, HERE)
sys.path.insert(0, TOOLS)

import tflite2onnx  # noqa: E402
from onnx_build import opencv_view  # noqa: E402
from tflite_builder import Graph, Vector  # noqa: E402

SAME, VALID = 0, 1
RELU6 = 3
rng = np.random.default_rng(7)


def rand(*shape):
    return rng.standard_normal(shape).astype(np.float32)


# -- TFLite's semantics in numpy ----------------------------------------------
def tf_pads(size, k, s):
    out = -(-size // s)
    total = max((out - 1) * s + k - size, 0)
    return total // 2, total - total // 2


def conv(x, w, b, stride, padding, depthwise=False):
    """x NHWC; w OHWI (or 1HWC for depthwise)."""
    kh, kw = w.shape[1], w.shape[2]
    if padding == SAME:
        (t, bo), (le, r) = tf_pads(x.shape[1], kh, stride), tf_pads(x.shape[2], kw, stride)
        x = np.pad(x, ((0, 0), (t, bo), (le, r), (0, 0)))
    oh = (x.shape[1] - kh) // stride + 1
    ow = (x.shape[2] - kw) // stride + 1
    out = np.zeros((1, oh, ow, w.shape[0] if not depthwise else w.shape[3]), np.float32)
    for i in range(oh):
        for j in range(ow):
            patch = x[0, i * stride:i * stride + kh, j * stride:j * stride + kw, :]
            if depthwise:
                out[0, i, j] = (patch * w[0]).sum(axis=(0, 1))
            else:
                out[0, i, j] = np.tensordot(w, patch, axes=([1, 2, 3], [0, 1, 2]))
    return out + b


def maxpool(x, k, s):
    n, h, w, c = x.shape
    return x[:, :h // s * s, :w // s * s].reshape(n, h // s, s, w // s, s, c).max(axis=(2, 4))


def resize_half_pixel(x, oh, ow):
    n, h, w, c = x.shape
    out = np.zeros((n, oh, ow, c), np.float32)
    for i in range(oh):
        sy = min(max((i + 0.5) * h / oh - 0.5, 0), h - 1)
        y0 = int(np.floor(sy)); y1 = min(y0 + 1, h - 1); fy = sy - y0
        for j in range(ow):
            sx = min(max((j + 0.5) * w / ow - 0.5, 0), w - 1)
            x0 = int(np.floor(sx)); x1 = min(x0 + 1, w - 1); fx = sx - x0
            out[0, i, j] = ((1 - fy) * ((1 - fx) * x[0, y0, x0] + fx * x[0, y0, x1])
                            + fy * ((1 - fx) * x[0, y1, x0] + fx * x[0, y1, x1]))
    return out


# -- running --------------------------------------------------------------------
def run_converted(graph, feeds, outputs, tmp):
    """Converts the graph's bytes and runs them in OpenCV (which reads opset 11's
    Clip only in the older attribute form); 4-D inputs go in as NCHW."""
    src = os.path.join(tmp, "m.tflite")
    dst = os.path.join(tmp, "m.onnx")
    with open(src, "wb") as f:
        f.write(graph.build())
    result = subprocess.run([sys.executable, os.path.join(TOOLS, "tflite2onnx.py"), src, dst],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    net = cv2.dnn.readNetFromONNX(np.frombuffer(opencv_view(onnx.load(dst)).SerializeToString(), np.uint8))
    for name, value in feeds.items():
        net.setInput(value.transpose(0, 3, 1, 2).copy() if value.ndim == 4 else value, name)
    return net.forward(outputs)


def conv_options(padding, stride, fused=0):
    return {0: ("b", padding), 1: ("i", stride), 2: ("i", stride), 3: ("b", fused)}


class ConvertedGraphs(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.tmp.cleanup()

    def test_backbone_block_uneven_same_padding_half_weights_and_residuals(self):
        # Conv with stride 2 on 8 pixels pads 0 before and 1 after; float16
        # weights come through DEQUANTIZE; PReLU, depthwise, a residual Add,
        # max pooling and channel padding as a palm detector's blocks use them.
        x = rand(1, 8, 8, 3)
        w1 = rand(4, 3, 3, 3).astype(np.float16)
        b1 = rand(4)
        alpha = np.abs(rand(1, 1, 4)) * 0.25
        dw = rand(1, 3, 3, 4)
        db = rand(4)
        g = Graph()
        xi = g.input("input_1", [1, 8, 8, 3])
        w1q = g.op("DEQUANTIZE", [g.const("w1_half", w1)], [4, 3, 3, 3])
        y = g.op("CONV_2D", [xi, w1q, g.const("b1", b1)], [1, 4, 4, 4], conv_options(SAME, 2))
        y = g.op("PRELU", [y, g.const("alpha", alpha)], [1, 4, 4, 4])
        z = g.op("DEPTHWISE_CONV_2D", [y, g.const("dw", dw), g.const("db", db)], [1, 4, 4, 4],
                 {0: ("b", SAME), 1: ("i", 1), 2: ("i", 1), 3: ("i", 1)})
        z = g.op("ADD", [z, y], [1, 4, 4, 4], {0: ("b", 0)})
        z = g.op("MAX_POOL_2D", [z], [1, 2, 2, 4],
                 {0: ("b", VALID), 1: ("i", 2), 2: ("i", 2), 3: ("i", 2), 4: ("i", 2)})
        pads = np.array([[0, 0], [0, 0], [0, 0], [0, 4]], np.int32)
        z = g.op("PAD", [z, g.const("pads", pads)], [1, 2, 2, 8], name="Identity")
        g.output(z)
        (got,) = run_converted(g, {"input_1": x}, ["Identity"], self.tmp.name)

        y = conv(x, w1.astype(np.float32), b1, 2, SAME)
        y = np.where(y > 0, y, y * alpha)
        z = conv(y, dw, db, 1, SAME, depthwise=True) + y
        want = np.pad(maxpool(z, 2, 2), ((0, 0), (0, 0), (0, 0), (0, 4)))
        self.assertEqual(got.shape, (1, 2, 2, 8))
        np.testing.assert_allclose(got, want, rtol=1e-4, atol=1e-4)

    def test_detector_head_resize_reshape_and_concat_keep_tflite_order(self):
        # Rows of a reshaped feature map run over y, x, then channel groups;
        # getting the layout wrong reorders them.
        x = rand(1, 4, 4, 6)
        w1 = rand(4, 1, 1, 6)
        w2 = rand(4, 1, 1, 6)
        g = Graph()
        xi = g.input("input_1", [1, 4, 4, 6])
        up = g.op("RESIZE_BILINEAR", [xi, g.const("size", np.array([8, 8], np.int32))], [1, 8, 8, 6],
                  {2: ("b", 0), 3: ("b", 1)})
        a = g.op("CONV_2D", [up, g.const("w1", w1), g.const("b1", np.zeros(4, np.float32))],
                 [1, 8, 8, 4], conv_options(VALID, 1))
        a = g.op("RESHAPE", [a, g.const("s1", np.array([1, -1, 2], np.int32))], [1, 128, 2])
        b = g.op("CONV_2D", [xi, g.const("w2", w2), g.const("b2", np.zeros(4, np.float32))],
                 [1, 2, 2, 4], conv_options(SAME, 2))
        b = g.op("RESHAPE", [b, g.const("s2", np.array([1, -1, 2], np.int32))], [1, 8, 2])
        c = g.op("CONCATENATION", [a, b], [1, 136, 2], {0: ("i", 1)}, name="Identity")
        g.output(c)
        (got,) = run_converted(g, {"input_1": x}, ["Identity"], self.tmp.name)

        a = conv(resize_half_pixel(x, 8, 8), w1, 0, 1, VALID).reshape(1, -1, 2)
        b = conv(x, w2, 0, 2, SAME).reshape(1, -1, 2)
        np.testing.assert_allclose(got.reshape(1, 136, 2), np.concatenate([a, b], axis=1),
                                   rtol=1e-4, atol=1e-4)

    def test_landmark_head_relu6_mean_dense_and_named_outputs(self):
        x = rand(1, 6, 6, 3) * 4
        w = rand(8, 3, 3, 3)
        fc1 = rand(5, 8)
        fc2 = rand(1, 8)
        g = Graph()
        xi = g.input("input_1", [1, 6, 6, 3])
        y = g.op("CONV_2D", [xi, g.const("w", w), g.const("b", np.full(8, 0.5, np.float32))],
                 [1, 4, 4, 8], conv_options(VALID, 1, RELU6))
        m = g.op("MEAN", [y, g.const("axes", np.array([1, 2], np.int32))], [1, 8], {0: ("b", 0)})
        p = g.op("FULLY_CONNECTED", [m, g.const("fc1", fc1), g.const("fb1", np.ones(5, np.float32))],
                 [1, 5], {0: ("b", 0)}, name="Identity")
        q = g.op("FULLY_CONNECTED", [m, g.const("fc2", fc2), g.const("fb2", np.zeros(1, np.float32))],
                 [1, 1], {0: ("b", 0)})
        q = g.op("LOGISTIC", [q], [1, 1], name="Identity_1")
        g.output(p)
        g.output(q)
        got_p, got_q = run_converted(g, {"input_1": x}, ["Identity", "Identity_1"], self.tmp.name)

        y = np.clip(conv(x, w, 0.5, 1, VALID), 0, 6)
        self.assertTrue((y == 6).any() and (y == 0).any(), "the test should reach both clip ends")
        m = y.mean(axis=(1, 2))
        np.testing.assert_allclose(got_p, m @ fc1.T + 1, rtol=1e-4, atol=1e-4)
        np.testing.assert_allclose(got_q, 1 / (1 + np.exp(-(m @ fc2.T))), rtol=1e-4, atol=1e-5)


class Failures(unittest.TestCase):
    def run_tool(self, data):
        with tempfile.TemporaryDirectory() as tmp:
            src, dst = os.path.join(tmp, "m.tflite"), os.path.join(tmp, "m.onnx")
            with open(src, "wb") as f:
                f.write(data)
            r = subprocess.run([sys.executable, os.path.join(TOOLS, "tflite2onnx.py"), src, dst],
                               capture_output=True, text=True)
            return r, sorted(os.listdir(tmp))

    def test_not_a_tflite_file(self):
        r, files = self.run_tool(b"\x00" * 64)
        self.assertEqual(r.returncode, 1)
        self.assertIn("not a TFLite model", r.stderr)
        self.assertEqual(r.stderr.count("\n"), 1)
        self.assertEqual(files, ["m.tflite"])

    def test_unsupported_operator_is_named_and_nothing_is_written(self):
        g = Graph()
        x = g.input("x", [1, 4])
        g.output(g.op("SOFTMAX", [x], [1, 4], {0: ("f", 1.0)}))
        r, files = self.run_tool(g.build())
        self.assertEqual(r.returncode, 1)
        self.assertIn("SOFTMAX", r.stderr)
        self.assertEqual(files, ["m.tflite"])

    def test_truncated_model_fails_cleanly(self):
        g = Graph()
        x = g.input("x", [1, 4])
        g.output(g.op("LOGISTIC", [x], [1, 4]))
        data = g.build()
        r, _ = self.run_tool(data[:len(data) // 2])
        self.assertEqual(r.returncode, 1)
        self.assertNotIn("Traceback", r.stderr)


if __name__ == "__main__":
    unittest.main()
