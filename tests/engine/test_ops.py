"""The executor's ops and fusions on small graphs, against NumPy arithmetic.

Each case is a graph built here with onnx.helper (and accepted by
onnx.checker), run through the run_model tool; the outputs must match a
float64 NumPy evaluation to within TOL * (1 + max |expected|): float32
rounding only. Many cases start from a convolution so that the op meets
oneDNN's blocked layouts (channel counts of 16 and others) as in the models."""
import unittest

import numpy as np
from onnx import TensorProto, helper

import numpy_ops as ref
from engine_run import Refused, make_model, run_model

TOL = 2e-5
N = helper.make_node
rng = np.random.default_rng(14)


def rand(*shape, low=None):
    a = rng.standard_normal(shape)
    if low is not None:  # magnitudes in [low, low + 2), random signs: safe divisors
        a = np.sign(a + 1e-9) * (low + rng.uniform(0, 2, shape))
    return a.astype(np.float32)


def ints(*values):
    return np.array(values, dtype=np.int64)


def f32(*values):
    return np.array(values, dtype=np.float32)


def scalar(value, dtype=np.float32):
    return np.array(value, dtype=dtype)


class Graphs(unittest.TestCase):
    def check(self, got, want, label):
        want = np.asarray(want)
        self.assertEqual(tuple(got.shape), want.shape, label)
        err = float(np.abs(got - want).max())
        self.assertLessEqual(err, TOL * (1 + float(np.abs(want).max())), label)

    def expect(self, nodes, inputs, outputs, inits=None, opset=13, label=""):
        """inputs: {name: array}; outputs: {name: expected array}."""
        model = make_model(nodes, {n: a.shape for n, a in inputs.items()},
                           {n: np.shape(a) for n, a in outputs.items()}, inits, opset)
        try:
            got = run_model(model, list(inputs.values()))
        except Refused as e:
            self.fail("%s: refused: %s" % (label, e))
        self.assertEqual(sorted(got), sorted(outputs), label)
        for name, want in outputs.items():
            self.check(got[name], want, "%s, output %s" % (label, name))


class ConvolutionTest(Graphs):
    def test_geometry(self):
        # input, weights (M, C / group, kh, kw), attributes
        cases = [
            ("3x3 on odd sizes", (1, 3, 7, 9), (4, 3, 3, 3), dict(pads=[1, 1, 1, 1])),
            ("stride 2, asymmetric pads", (1, 5, 11, 8), (6, 5, 3, 3), dict(strides=[2, 2], pads=[0, 1, 1, 2])),
            ("strides and pads differ per axis", (1, 4, 9, 10), (8, 4, 3, 2), dict(strides=[1, 3], pads=[2, 0, 1, 1])),
            ("dilations", (1, 3, 12, 13), (5, 3, 3, 3), dict(dilations=[2, 3], pads=[2, 3, 2, 3])),
            ("3 groups", (1, 6, 9, 9), (9, 2, 3, 3), dict(group=3, pads=[1, 1, 1, 1])),
            ("depthwise, 16 channels", (1, 16, 10, 10), (16, 1, 3, 3), dict(group=16, pads=[1, 1, 1, 1])),
            ("depthwise 5x5, stride 2, odd", (1, 20, 13, 11), (20, 1, 5, 5),
             dict(group=20, strides=[2, 2], pads=[1, 2, 2, 1])),
            ("depthwise, multiplier 2", (1, 5, 8, 8), (10, 1, 3, 3), dict(group=5)),
            ("1x1, no bias", (1, 24, 5, 7), (40, 24, 1, 1), dict()),
            ("SAME_UPPER, stride 2", (1, 3, 10, 9), (4, 3, 3, 3), dict(auto_pad="SAME_UPPER", strides=[2, 2])),
            ("SAME_LOWER, even kernel", (1, 3, 7, 7), (4, 3, 4, 4), dict(auto_pad="SAME_LOWER")),
            ("VALID", (1, 3, 8, 8), (4, 3, 3, 3), dict(auto_pad="VALID", strides=[2, 1])),
            ("batch of 2", (2, 3, 6, 5), (17, 3, 3, 3), dict(pads=[1, 1, 1, 1])),
        ]
        for label, xs, ws, attrs in cases:
            with self.subTest(label):
                x, w = rand(*xs), rand(*ws)
                bias = None if "no bias" in label else rand(ws[0])
                strides, dil = attrs.get("strides", [1, 1]), attrs.get("dilations", [1, 1])
                pads = attrs.get("pads", [0, 0, 0, 0])
                if attrs.get("auto_pad", "").startswith("SAME"):
                    upper = attrs["auto_pad"] == "SAME_UPPER"
                    (t, b), (l, r) = (ref.same_pads(xs[2 + a], ws[2 + a], strides[a], dil[a], upper) for a in (0, 1))
                    pads = [t, l, b, r]
                want = ref.conv(x, w, bias, strides, pads, dil, attrs.get("group", 1))
                inits = {"w": w} if bias is None else {"w": w, "b": bias}
                node = N("Conv", ["x"] + list(inits), ["y"], kernel_shape=list(ws[2:]), **attrs)
                self.expect([node], {"x": x}, {"y": want}, inits, label=label)

    def test_what_follows_is_fused_right(self):
        # W equals C, so that a slope of shape [C] (which broadcasts along W) is
        # told apart from a per-channel one.
        x, r, q = rand(1, 6, 9, 6), rand(1, 6, 9, 6), rand(1, 6, 1, 1)
        inits = {name: rand(6, 6, 3, 3) for name in ("w", "ws", "wt")}
        inits.update(b=rand(6), lo=scalar(-0.5), hi=scalar(0.7), slope=rand(6, 1, 1), one=f32(0.25), wide=rand(6), half=f32(0.5),
                     zero=f32(0), three=f32(3), six=f32(6), sixth=f32(1 / 6), sixth16=f32(np.float16(1 / 6)),
                     bias4=rand(1, 6, 1, 1), bias3=rand(6, 1, 1), rows=rand(6))
        conv = lambda w: ref.conv(x, inits[w], inits["b"], pads=(1, 1, 1, 1))
        c, s, t = conv("w"), conv("ws"), conv("wt")
        c_node = N("Conv", ["x", "w", "b"], ["c"], kernel_shape=[3, 3], pads=[1, 1, 1, 1])
        s_node = N("Conv", ["x", "ws", "b"], ["s"], kernel_shape=[3, 3], pads=[1, 1, 1, 1])
        t_node = N("Conv", ["x", "wt", "b"], ["t"], kernel_shape=[3, 3], pads=[1, 1, 1, 1])
        relu = lambda v: np.maximum(v, 0)
        cases = [
            ("Relu", [N("Relu", ["c"], ["y"])], {"y": relu(c)}),
            ("Clip, bounds as inputs", [N("Clip", ["c", "lo", "hi"], ["y"])], {"y": np.clip(c, -0.5, 0.7)}),
            ("Clip, a max only", [N("Clip", ["c", "", "hi"], ["y"])], {"y": np.minimum(c, 0.7)}),
            ("Sigmoid", [N("Sigmoid", ["c"], ["y"])], {"y": ref.sigmoid(c)}),
            ("Tanh", [N("Tanh", ["c"], ["y"])], {"y": np.tanh(c)}),
            ("HardSwish", [N("HardSwish", ["c"], ["y"])], {"y": ref.hardswish(c)}),
            ("LeakyRelu", [N("LeakyRelu", ["c"], ["y"], alpha=0.1)], {"y": np.where(c > 0, c, 0.1 * c)}),
            ("PRelu per channel", [N("PRelu", ["c", "slope"], ["y"])], {"y": ref.prelu(c, inits["slope"])}),
            ("PRelu, one slope", [N("PRelu", ["c", "one"], ["y"])], {"y": ref.prelu(c, 0.25)}),
            ("PRelu, slopes along the width", [N("PRelu", ["c", "wide"], ["y"])], {"y": ref.prelu(c, inits["wide"])}),
            ("Add of a number, Relu", [N("Add", ["c", "half"], ["a"]), N("Relu", ["a"], ["y"])], {"y": relu(c + 0.5)}),
            ("Relu, Clip, Sigmoid in a row",
             [N("Relu", ["c"], ["a"]), N("Clip", ["a", "lo", "hi"], ["d"]), N("Sigmoid", ["d"], ["y"])],
             {"y": ref.sigmoid(np.clip(relu(c), -0.5, 0.7))}),
            ("residual that dies at the Add", [s_node, c_node, N("Add", ["c", "s"], ["a"]), N("Relu", ["a"], ["y"])],
             {"y": relu(c + s)}),
            ("residual first in the Add", [s_node, c_node, N("Add", ["s", "c"], ["y"])], {"y": c + s}),
            ("residual read again later",
             [s_node, c_node, N("Add", ["c", "s"], ["a"]), N("Mul", ["a", "s"], ["y"])], {"y": (c + s) * s}),
            ("residual also a graph output", [s_node, c_node, N("Add", ["c", "s"], ["y"])], {"y": c + s, "s": s}),
            ("residual a reshape of a value read later",
             [s_node, N("Reshape", ["s", "shape"], ["s2"]), c_node, N("Add", ["c", "s2"], ["a"]),
              N("Sub", ["a", "s"], ["y"])], {"y": c}),
            ("residual a graph input", [c_node, N("Add", ["c", "r"], ["y"])], {"y": c + r}),
            ("residual broadcast per channel", [c_node, N("Add", ["c", "q"], ["y"])], {"y": c + q}),
            ("two residuals in a row",
             [s_node, t_node, c_node, N("Add", ["c", "s"], ["a"]), N("Add", ["a", "t"], ["d"]), N("Relu", ["d"], ["y"])],
             {"y": relu(c + s + t)}),
            ("sum, then the sum's result is a residual",
             [s_node, t_node, N("Add", ["t", "s"], ["ts"]), c_node, N("Add", ["c", "ts"], ["y"])], {"y": c + s + t}),
            ("hard-swish written out",
             [N("Mul", ["sixth", "c"], ["m"]), N("Add", ["c", "three"], ["a"]), N("Clip", ["a", "zero", "six"], ["k"]),
              N("Mul", ["m", "k"], ["y"])], {"y": ref.hardswish(c)}),
            ("hard-swish written out with a division, the product's operands swapped",
             [N("Div", ["c", "six"], ["m"]), N("Add", ["three", "c"], ["a"]), N("Clip", ["a", "zero", "six"], ["k"]),
              N("Mul", ["k", "m"], ["y"])], {"y": ref.hardswish(c)}),
            # Joined, the file's own arithmetic still holds (a true 1/6 is 2.4e-4 off).
            ("hard-swish written out with 1/6 in half precision",
             [N("Mul", ["sixth16", "c"], ["m"]), N("Add", ["c", "three"], ["a"]), N("Clip", ["a", "zero", "six"], ["k"]),
              N("Mul", ["m", "k"], ["y"])], {"y": c * np.float16(1 / 6) * np.clip(c + 3, 0, 6)}),
            ("hard-swish written out, its sum also an output",
             [N("Mul", ["c", "sixth"], ["m"]), N("Add", ["c", "three"], ["a"]), N("Clip", ["a", "zero", "six"], ["k"]),
              N("Mul", ["m", "k"], ["y"])], {"y": ref.hardswish(c), "a": c + 3}),
            ("a bias added after the convolution", [N("Add", ["c", "bias4"], ["y"])], {"y": c + inits["bias4"]}),
            ("a bias added after a convolution that has none, then hard-swish",
             [N("Conv", ["x", "w"], ["c"], kernel_shape=[3, 3], pads=[1, 1, 1, 1]), N("Add", ["bias3", "c"], ["a"]),
              N("HardSwish", ["a"], ["y"])],
             {"y": ref.hardswish(c - inits["b"][None, :, None, None] + inits["bias3"])}),
            ("[C] adds along the width, not the channels", [N("Add", ["c", "rows"], ["y"])], {"y": c + inits["rows"]}),
            ("not hard-swish: clipped at 0.7",
             [N("Mul", ["sixth", "c"], ["m"]), N("Add", ["c", "three"], ["a"]), N("Clip", ["a", "zero", "hi"], ["k"]),
              N("Mul", ["m", "k"], ["y"])], {"y": c / 6 * np.clip(c + 3, 0, 0.7)}),
        ]
        inits["shape"] = ints(1, 6, 9, 6)
        for label, nodes, outputs in cases:
            with self.subTest(label):
                if not any(n.output[0] == "c" for n in nodes):
                    nodes = [c_node] + nodes
                feeds = {"x": x}
                if any("r" in n.input for n in nodes):
                    feeds["r"] = r
                if any("q" in n.input for n in nodes):
                    feeds["q"] = q
                used = {i for n in nodes for i in n.input}
                self.expect(nodes, feeds, outputs, {k: v for k, v in inits.items() if k in used}, opset=14, label=label)

    def test_pad_before_a_convolution(self):
        x, w, b = rand(1, 4, 7, 8), rand(5, 4, 3, 3), rand(5)
        conv = N("Conv", ["p", "w", "b"], ["y"], kernel_shape=[3, 3], pads=[1, 0, 0, 1])
        padded = lambda pads, value=0.0: np.pad(x, [(pads[k], pads[k + 4]) for k in range(4)], constant_values=value)
        cases = [
            ("spatial pads fold into the convolution's", [0, 0, 1, 2, 0, 0, 2, 0], None, [conv]),
            ("a pad value that is not zero", [0, 0, 1, 1, 0, 0, 1, 1], 1.5, [conv]),
            ("a pad read by two nodes", [0, 0, 2, 1, 0, 0, 0, 1], None, [conv, N("Relu", ["p"], ["z"])]),
        ]
        for label, pads, value, nodes in cases:
            with self.subTest(label):
                inits = {"w": w, "b": b, "pads": ints(*pads)}
                pad_inputs = ["x", "pads"]
                if value is not None:
                    inits["value"] = scalar(value)
                    pad_inputs.append("value")
                p = padded(pads, value or 0.0)
                outputs = {"y": ref.conv(p, w, b, pads=(1, 0, 0, 1))}
                if len(nodes) > 1:
                    outputs["z"] = np.maximum(p, 0)
                self.expect([N("Pad", pad_inputs, ["p"])] + nodes, {"x": x}, outputs, inits, label=label)
        with self.subTest("channels padded, then a convolution"):
            w6 = rand(3, 6, 1, 1)
            nodes = [N("Conv", ["x", "w"], ["c"], kernel_shape=[3, 3], pads=[1, 1, 1, 1]),
                     N("Pad", ["c", "pads"], ["p"]), N("Conv", ["p", "w6"], ["y"], kernel_shape=[1, 1])]
            c = ref.conv(x, w, pads=(1, 1, 1, 1))
            p = np.pad(c, ((0, 0), (0, 1), (0, 0), (0, 0)))
            self.expect(nodes, {"x": x}, {"y": ref.conv(p, w6)},
                        {"w": w, "w6": w6, "pads": ints(0, 0, 0, 0, 0, 1, 0, 0)}, label="channel pad")

    def test_transposed(self):
        # input, weights (C, M / group, kh, kw), attributes
        cases = [
            ("2x2, stride 2", (1, 16, 5, 6), (16, 8, 2, 2), dict(strides=[2, 2])),
            ("3x3, stride 2, output_padding", (1, 6, 4, 5), (6, 3, 3, 3),
             dict(strides=[2, 2], pads=[1, 1, 1, 1], output_padding=[1, 1])),
            ("groups, dilations, asymmetric pads", (1, 4, 5, 5), (4, 3, 3, 3),
             dict(group=2, dilations=[2, 1], pads=[0, 1, 2, 0], strides=[1, 2])),
            ("depthwise", (1, 8, 6, 6), (8, 1, 4, 4), dict(group=8, strides=[2, 2], pads=[1, 1, 1, 1])),
        ]
        for label, xs, ws, attrs in cases:
            with self.subTest(label):
                x, w, b = rand(*xs), rand(*ws), rand(ws[1] * attrs.get("group", 1))
                want = ref.conv_transpose(x, w, b, attrs.get("strides", [1, 1]), attrs.get("pads", [0, 0, 0, 0]),
                                          attrs.get("dilations", [1, 1]), attrs.get("group", 1),
                                          attrs.get("output_padding", [0, 0]))
                nodes = [N("ConvTranspose", ["x", "w", "b"], ["t"], kernel_shape=list(ws[2:]), **attrs),
                         N("Relu", ["t"], ["y"])]
                self.expect(nodes, {"x": x}, {"y": np.maximum(want, 0)}, {"w": w, "b": b}, label=label)


class PoolingAndResizeTest(Graphs):
    def test_pooling(self):
        cases = [
            ("max 3x3, stride 2, pads", "MaxPool", dict(kernel_shape=[3, 3], strides=[2, 2], pads=[1, 1, 1, 1])),
            ("max 2x2, stride 2, ceil mode on odd sizes", "MaxPool", dict(kernel_shape=[2, 2], strides=[2, 2], ceil_mode=1)),
            ("max, ceil mode with pads", "MaxPool", dict(kernel_shape=[3, 3], strides=[2, 2], pads=[1, 0, 0, 1], ceil_mode=1)),
            ("average, pads not counted", "AveragePool", dict(kernel_shape=[3, 3], pads=[1, 1, 1, 1])),
            ("average, pads counted", "AveragePool", dict(kernel_shape=[3, 3], pads=[1, 1, 1, 1], count_include_pad=1)),
            ("average, asymmetric pads counted", "AveragePool",
             dict(kernel_shape=[2, 3], strides=[2, 1], pads=[0, 2, 1, 0], count_include_pad=1)),
            ("average, ceil mode", "AveragePool", dict(kernel_shape=[2, 2], strides=[2, 2], ceil_mode=1)),
            ("average, asymmetric pads not counted", "AveragePool", dict(kernel_shape=[2, 2], strides=[2, 2], pads=[0, 0, 1, 0])),
            ("average, ceil mode and pads", "AveragePool",
             dict(kernel_shape=[3, 3], strides=[2, 2], pads=[1, 1, 1, 1], ceil_mode=1)),
        ]
        for channels in (6, 16):
            x, w = rand(1, 3, 9, 11), rand(channels, 3, 1, 1)
            c = ref.conv(x, w)
            for label, op, attrs in cases:
                with self.subTest(label, channels=channels):
                    want = ref.pool(c, "max" if op == "MaxPool" else "avg", attrs["kernel_shape"],
                                    attrs.get("strides", [1, 1]), attrs.get("pads", [0, 0, 0, 0]),
                                    attrs.get("ceil_mode", 0), attrs.get("count_include_pad", 0))
                    nodes = [N("Conv", ["x", "w"], ["c"], kernel_shape=[1, 1]), N(op, ["c"], ["y"], **attrs)]
                    self.expect(nodes, {"x": x}, {"y": want}, {"w": w}, label=label)
            with self.subTest("global pools", channels=channels):
                nodes = [N("Conv", ["x", "w"], ["c"], kernel_shape=[1, 1]),
                         N("GlobalAveragePool", ["c"], ["avg"]), N("GlobalMaxPool", ["c"], ["max"]),
                         N("GlobalAveragePool", ["x"], ["plain"])]
                self.expect(nodes, {"x": x}, {"avg": c.mean(axis=(2, 3), keepdims=True),
                                              "max": c.max(axis=(2, 3), keepdims=True),
                                              "plain": x.mean(axis=(2, 3), keepdims=True)}, {"w": w}, label="global")

    def test_a_plain_picture_input(self):
        # Three plain channels, as a network's picture comes in: pooled as a
        # pyramid (in channels last) and averaged over its channels, a run
        # longer than the piece each thread takes.
        x = rand(1, 3, 101, 99)
        attrs = dict(kernel_shape=[2, 2], strides=[2, 2], ceil_mode=1)
        half = ref.pool(x, "avg", [2, 2], [2, 2], [0, 0, 0, 0], 1, 0)
        nodes = [N("AveragePool", ["x"], ["h"], **attrs), N("AveragePool", ["h"], ["q"], **attrs),
                 N("ReduceMean", ["x"], ["m"], axes=[1])]
        self.expect(nodes, {"x": x}, {"h": half, "q": ref.pool(half, "avg", [2, 2], [2, 2], [0, 0, 0, 0], 1, 0),
                                      "m": x.mean(axis=1, keepdims=True)}, label="plain picture")

    def test_resize(self):
        # mode, coordinate mode, nearest mode, (scales or sizes of H, W) from a 7 x 9 input
        cases = [
            ("nearest", "asymmetric", "floor", ("scales", 2.0, 2.0)),
            ("nearest", "half_pixel", "round_prefer_floor", ("scales", 1.5, 2.5)),
            ("nearest", "half_pixel", "round_prefer_ceil", ("sizes", 4, 5)),
            ("nearest", "align_corners", "ceil", ("sizes", 10, 13)),
            ("nearest", "asymmetric", "round_prefer_floor", ("scales", 0.5, 0.75)),
            ("nearest", "tf_half_pixel_for_nn", "floor", ("sizes", 12, 7)),
            ("linear", "half_pixel", None, ("scales", 2.0, 2.0)),
            ("linear", "half_pixel", None, ("sizes", 10, 20)),
            ("linear", "half_pixel", None, ("scales", 1.5, 1.25)),
            ("linear", "half_pixel", None, ("sizes", 4, 5)),
            ("linear", "pytorch_half_pixel", None, ("sizes", 14, 18)),
            ("linear", "pytorch_half_pixel", None, ("sizes", 1, 12)),
            ("linear", "align_corners", None, ("sizes", 13, 17)),
            ("linear", "asymmetric", None, ("scales", 2.0, 3.0)),
        ]
        for channels in (5, 16):
            x, w = rand(1, 3, 7, 9), rand(channels, 3, 1, 1)
            c = ref.conv(x, w)
            for mode, transform, nearest, (kind, h, wd) in cases:
                label = "%s %s %s %s %s x %s" % (mode, transform, nearest or "", kind, h, wd)
                with self.subTest(label, channels=channels):
                    attrs = dict(mode=mode, coordinate_transformation_mode=transform)
                    if nearest:
                        attrs["nearest_mode"] = nearest
                    if kind == "scales":
                        out, scales = (int(np.floor(7 * h)), int(np.floor(9 * wd))), (h, wd)
                        inits = {"scales": f32(1, 1, h, wd)}
                        resize = N("Resize", ["c", "", "scales"], ["y"], **attrs)
                    else:
                        out, scales = (h, wd), (h / 7, wd / 9)
                        inits = {"sizes": ints(1, channels, h, wd)}
                        resize = N("Resize", ["c", "", "", "sizes"], ["y"], **attrs)
                    inits["w"] = w
                    want = ref.resize(c, out, scales, mode, transform, nearest or "round_prefer_floor")
                    self.expect([N("Conv", ["x", "w"], ["c"], kernel_shape=[1, 1]), resize], {"x": x}, {"y": want},
                                inits, label=label)
        with self.subTest("Upsample of opset 9, on the graph's input"):
            x = rand(1, 3, 4, 5)
            self.expect([N("Upsample", ["x", "scales"], ["y"], mode="nearest")], {"x": x},
                        {"y": ref.resize(x, (8, 15), (2, 3), "nearest", "asymmetric", "floor")},
                        {"scales": f32(1, 1, 2, 3)}, opset=9, label="upsample")


class JoiningTest(Graphs):
    def test_concat(self):
        x, y = rand(1, 3, 6, 7), rand(1, 3, 6, 7)
        weights = {"w%d" % k: rand(k, 3, 3, 3) for k in (5, 7, 16)}
        convs = [N("Conv", ["x", "w%d" % k], ["c%d" % k], kernel_shape=[3, 3], pads=[1, 1, 1, 1]) for k in (5, 7, 16)]
        c = {"c%d" % k: ref.conv(x, weights["w%d" % k], pads=(1, 1, 1, 1)) for k in (5, 7, 16)}
        c["x"], c["y"] = x, y
        cases = [
            ("channels 5 + 7 + 16", ["c5", "c7", "c16"], 1),
            ("channels 16 + 16 + 3 (an input)", ["c16", "c16", "y"], 1),
            ("channels 7 + 5", ["c7", "c5"], 1),
            ("height", ["c5", "c5"], 2),
            ("height, inputs", ["x", "y", "x"], 2),
            ("width, axis -1", ["c16", "c16"], -1),
            ("batch", ["c7", "c7"], 0),
            ("inputs on axis 1", ["x", "y"], 1),
        ]
        for label, parts, axis in cases:
            with self.subTest(label):
                joined = np.concatenate([c[p] for p in parts], axis=axis)
                nodes = convs + [N("Concat", parts, ["j"], axis=axis), N("Relu", ["j"], ["out"])]
                inits = dict(weights)
                outputs = {"out": np.maximum(joined, 0)}
                if axis == 1:  # read by a convolution too
                    wz = rand(4, joined.shape[1], 1, 1)
                    nodes.append(N("Conv", ["j", "wz"], ["z"], kernel_shape=[1, 1]))
                    inits["wz"] = wz
                    outputs["z"] = ref.conv(joined, wz)
                inputs = {"x": x, "y": y} if "y" in parts else {"x": x}
                used = {i for n in nodes for i in n.input}
                nodes = [n for n in nodes if n.op_type != "Conv" or n.output[0] in used or n.output[0] == "z"]
                self.expect(nodes, inputs, outputs, {k: v for k, v in inits.items() if k in used}, label=label)

    def test_convolution_reading_a_join_alone(self):
        # Parts a convolution left in channels last, a network input (few
        # channels, plain) and a part joined twice; the bias, a residual
        # that dies here and an activation follow. The join is read by the
        # convolution only, which may then read it part by part.
        x = rand(1, 3, 9, 11)
        wa, wb, wr = rand(16, 3, 3, 3), rand(7, 3, 3, 3), rand(8, 3, 1, 1)
        a, b = ref.conv(x, wa, pads=(1, 1, 1, 1)), ref.conv(x, wb, pads=(1, 1, 1, 1))
        residual = ref.conv(x, wr)
        joined = np.concatenate([a, x, b, a], 1)
        w, bias = rand(8, joined.shape[1], 3, 3), rand(8)
        pads = dict(kernel_shape=[3, 3], pads=[1, 1, 1, 1])
        nodes = [N("Conv", ["x", "wa"], ["a"], **pads), N("Conv", ["x", "wb"], ["b"], **pads),
                 N("Conv", ["x", "wr"], ["r"], kernel_shape=[1, 1]),
                 N("Concat", ["a", "x", "b", "a"], ["j"], axis=1), N("Conv", ["j", "w", "bias"], ["c"], **pads),
                 N("Add", ["c", "r"], ["s"]), N("Relu", ["s"], ["y"])]
        want = np.maximum(ref.conv(joined, w, pads=(1, 1, 1, 1)) + bias.reshape(1, -1, 1, 1) + residual, 0)
        self.expect(nodes, {"x": x}, {"y": want}, {"wa": wa, "wb": wb, "wr": wr, "w": w, "bias": bias},
                    label="convolution of a join")

    def test_arithmetic_broadcasts(self):
        x = rand(1, 4, 5, 6)
        shapes = [
            ("same shape", (1, 4, 5, 6)),
            ("per channel", (1, 4, 1, 1)),
            ("per channel, lower rank", (4, 1, 1)),
            ("along the width", (6,)),
            ("one number", (1,)),
        ]
        ops = {"Add": np.add, "Sub": np.subtract, "Mul": np.multiply, "Div": np.divide,
               "Max": np.maximum, "Min": np.minimum}
        w = rand(4, 4, 1, 1)
        c = ref.conv(x, w)
        for op, fn in ops.items():
            for label, shape in shapes:
                other = rand(*shape, low=0.5)
                for where in ("input", "constant"):
                    if where == "input" and shape == (1,):
                        continue
                    with self.subTest(op=op, other=label, where=where):
                        feeds, inits = {"x": x}, {"w": w}
                        (feeds if where == "input" else inits)["o"] = other
                        nodes = [N("Conv", ["x", "w"], ["c"], kernel_shape=[1, 1]),
                                 N(op, ["c", "o"], ["y"]), N(op, ["o", "x"], ["z"])]
                        want = {"y": fn(c, other), "z": fn(other, x)}
                        self.expect(nodes, feeds, want, inits, label="%s %s %s" % (op, label, where))
            with self.subTest(op=op, other="both sides broadcast"):
                a, b = rand(1, 4, 1, 6, low=0.5), rand(1, 1, 5, 1, low=0.5)
                self.expect([N(op, ["a", "b"], ["y"])], {"a": a, "b": b}, {"y": fn(a, b)}, label=op + " both")


class OtherOpsTest(Graphs):
    def test_activations_and_softmax(self):
        x = rand(1, 5, 4, 5)
        cases = [
            ("Relu", N("Relu", ["x"], ["y"]), {}, np.maximum(x, 0), 13),
            ("Sigmoid", N("Sigmoid", ["x"], ["y"]), {}, ref.sigmoid(x), 13),
            ("Tanh", N("Tanh", ["x"], ["y"]), {}, np.tanh(x), 13),
            ("Clip, bounds as inputs", N("Clip", ["x", "lo", "hi"], ["y"]), {"lo": scalar(-0.3), "hi": scalar(0.6)},
             np.clip(x, -0.3, 0.6), 13),
            ("Clip, a min only", N("Clip", ["x", "lo"], ["y"]), {"lo": scalar(-0.3)}, np.maximum(x, -0.3), 13),
            ("Clip, bounds as attributes", N("Clip", ["x"], ["y"], min=0.0, max=6.0), {}, np.clip(x, 0, 6), 6),
            ("PRelu per channel", N("PRelu", ["x", "s"], ["y"]), {"s": rand(5, 1, 1)}, None, 13),
            ("PRelu along the width", N("PRelu", ["x", "s"], ["y"]), {"s": rand(5)}, None, 13),
            ("PRelu, one slope", N("PRelu", ["x", "s"], ["y"]), {"s": f32(0.2)}, None, 13),
            ("Softmax of opset 11, axis 1 (rows flattened)", N("Softmax", ["x"], ["y"], axis=1), {},
             ref.softmax_flattened(x, 1), 11),
            ("Softmax of opset 11, axis 2", N("Softmax", ["x"], ["y"], axis=2), {}, ref.softmax_flattened(x, 2), 11),
            ("Softmax of opset 13, axis 1", N("Softmax", ["x"], ["y"], axis=1), {}, ref.softmax(x, 1), 13),
            ("Softmax of opset 13, last axis", N("Softmax", ["x"], ["y"]), {}, ref.softmax(x, -1), 13),
        ]
        for label, node, inits, want, opset in cases:
            with self.subTest(label):
                if want is None:
                    want = ref.prelu(x, inits["s"])
                self.expect([node], {"x": x}, {"y": want}, inits, opset=opset, label=label)

    def test_matrix_products(self):
        a, a3, b3 = rand(3, 8), rand(2, 3, 4), rand(2, 4, 5)
        wt, wn, c, w45 = rand(6, 8), rand(8, 6), rand(6), rand(4, 5)
        x, wc = rand(1, 3, 4, 4), rand(5, 3, 1, 1)
        flat = ref.conv(x, wc).reshape(1, -1)
        wf = rand(10, 80)
        cases = [
            ("Gemm, transB 1, with C", [N("Gemm", ["a", "wt", "c"], ["y"], transB=1)], {"a": a}, a @ wt.T + c),
            ("Gemm, transB 0, no C", [N("Gemm", ["a", "wn"], ["y"])], {"a": a}, a @ wn),
            ("Gemm on a flattened convolution",
             [N("Conv", ["x", "wc"], ["k"], kernel_shape=[1, 1]), N("Flatten", ["k"], ["f"]),
              N("Gemm", ["f", "wf"], ["y"], transB=1)], {"x": x}, flat @ wf.T),
            ("MatMul of two inputs, batched", [N("MatMul", ["a3", "b3"], ["y"])], {"a3": a3, "b3": b3}, a3 @ b3),
            ("MatMul by constant weights, broadcast", [N("MatMul", ["a3", "w45"], ["y"])], {"a3": a3}, a3 @ w45),
        ]
        inits = {"wt": wt, "wn": wn, "c": c, "w45": w45, "wc": wc, "wf": wf}
        for label, nodes, feeds, want in cases:
            with self.subTest(label):
                used = {i for n in nodes for i in n.input}
                self.expect(nodes, feeds, {"y": want}, {k: v for k, v in inits.items() if k in used}, label=label)

    def test_recurrent_update_of_split_parts(self):
        # A convolutional GRU's update: the gates come from one convolution,
        # split in two, and meet the recurrent state (a plain network input).
        x, h = rand(1, 16, 6, 7), rand(1, 16, 6, 7)
        wg, wc = rand(32, 32, 3, 3), rand(16, 32, 3, 3)
        gates = ref.sigmoid(ref.conv(np.concatenate([x, h], 1), wg, pads=(1, 1, 1, 1)))
        r, z = gates[:, :16], gates[:, 16:]
        c = np.tanh(ref.conv(np.concatenate([x, r * h], 1), wc, pads=(1, 1, 1, 1)))
        pads = dict(kernel_shape=[3, 3], pads=[1, 1, 1, 1])
        nodes = [N("Concat", ["x", "h"], ["xh"], axis=1), N("Conv", ["xh", "wg"], ["g"], **pads),
                 N("Sigmoid", ["g"], ["gs"]), N("Split", ["gs"], ["r", "z"], axis=1),
                 N("Mul", ["r", "h"], ["rh"]), N("Concat", ["x", "rh"], ["xrh"], axis=1),
                 N("Conv", ["xrh", "wc"], ["cc"], **pads), N("Tanh", ["cc"], ["c"]),
                 N("Sub", ["one", "z"], ["keep"]), N("Mul", ["keep", "h"], ["kh"]), N("Mul", ["z", "c"], ["zc"]),
                 N("Add", ["kh", "zc"], ["y"])]
        self.expect(nodes, {"x": x, "h": h}, {"y": (1 - z) * h + z * c}, {"wg": wg, "wc": wc, "one": scalar(1)},
                    label="GRU update")

    def test_layout_ops(self):
        x, w = rand(1, 3, 5, 8), rand(6, 3, 3, 3)
        c = ref.conv(x, w, pads=(1, 1, 1, 1))  # 1 x 6 x 5 x 8, in oneDNN's layout of choice
        conv = N("Conv", ["x", "w"], ["c"], kernel_shape=[3, 3], pads=[1, 1, 1, 1])
        cases = [
            ("Reshape with 0 and -1", [N("Reshape", ["c", "shape"], ["y"])], {"shape": ints(0, 6, -1)},
             {"y": c.reshape(1, 6, 40)}),
            ("Flatten at axis 2", [N("Flatten", ["c"], ["y"], axis=2)], {}, {"y": c.reshape(6, 40)}),
            ("Transpose to channels last", [N("Transpose", ["c"], ["y"], perm=[0, 2, 3, 1])], {},
             {"y": c.transpose(0, 2, 3, 1)}),
            ("Transpose, reversed", [N("Transpose", ["c"], ["y"])], {}, {"y": c.transpose()}),
            ("Squeeze and Unsqueeze",
             [N("ReduceMean", ["c"], ["m"], axes=[2]), N("Squeeze", ["m", "two"], ["y"]),
              N("Unsqueeze", ["y", "ends"], ["z"])], {"two": ints(2), "ends": ints(0, -1)},
             {"y": c.mean(axis=2), "z": c.mean(axis=2)[None, ..., None]}),
            ("Slice with negative starts, ends past the end",
             [N("Slice", ["c", "starts", "ends", "axes"], ["y"])],
             {"starts": ints(1, -5), "ends": ints(5, 100), "axes": ints(1, -1)}, {"y": c[:, 1:5, :, 3:]}),
            ("Split unevenly on channels",
             [N("Split", ["c", "split"], ["y", "z"], axis=1)], {"split": ints(2, 4)},
             {"y": c[:, :2], "z": c[:, 2:]}),
            ("Split evenly on the width", [N("Split", ["c"], ["y", "z"], axis=3)], {},
             {"y": c[..., :4], "z": c[..., 4:]}),
            ("ReduceMean, kept and dropped axes",
             [N("ReduceMean", ["c"], ["y"], axes=[2, 3]), N("ReduceMean", ["c"], ["z"], axes=[1], keepdims=0)], {},
             {"y": c.mean(axis=(2, 3), keepdims=True), "z": c.mean(axis=1)}),
            ("Pad with a value, negative pads crop",
             [N("Pad", ["c", "pads", "value"], ["y"])], {"pads": ints(0, 1, -1, 2, 0, 0, 1, -3), "value": scalar(0.75)},
             {"y": np.pad(c[:, :, 1:, :5], ((0, 0), (1, 0), (0, 1), (2, 0)), constant_values=0.75)}),
        ]
        for label, nodes, inits, outputs in cases:
            with self.subTest(label):
                self.expect([conv] + nodes, {"x": x}, outputs, dict(inits, w=w), label=label)

    def test_constant_folding_feeds_sizes(self):
        x, w = rand(1, 3, 5, 8), rand(6, 3, 1, 1)
        c = ref.conv(x, w)
        conv = N("Conv", ["x", "w"], ["c"], kernel_shape=[1, 1])
        shape_to_reshape = [
            N("Shape", ["c"], ["s"]), N("Gather", ["s", "zero"], ["n"]), N("Unsqueeze", ["n", "zeros"], ["n1"]),
            N("Concat", ["n1", "minus"], ["target"], axis=0), N("Reshape", ["c", "target"], ["y"])]
        shape_to_resize = [
            N("Shape", ["c"], ["s"]), N("Slice", ["s", "zeros", "two"], ["nc"]),
            N("Slice", ["s", "two", "four"], ["hw"]), N("Cast", ["hw"], ["hwf"], to=TensorProto.FLOAT),
            N("Mul", ["hwf", "factor"], ["hw2f"]), N("Cast", ["hw2f"], ["hw2"], to=TensorProto.INT64),
            N("Concat", ["nc", "hw2"], ["sizes"], axis=0),
            N("Resize", ["c", "", "", "sizes"], ["y"], mode="nearest", coordinate_transformation_mode="asymmetric",
              nearest_mode="floor")]
        filled = [N("Shape", ["c"], ["s"]),
                  N("ConstantOfShape", ["s"], ["k"], value=helper.make_tensor("v", TensorProto.FLOAT, [1], [1.5])),
                  N("Add", ["c", "k"], ["y"])]
        inits = {"w": w, "zero": scalar(0, np.int64), "zeros": ints(0), "minus": ints(-1), "two": ints(2), "four": ints(4),
                 "factor": f32(2.0)}
        cases = [
            ("Shape, Gather, Unsqueeze, Concat into Reshape", shape_to_reshape, c.reshape(1, 240)),
            ("Shape, Slice, Cast, Mul, Concat into Resize sizes", shape_to_resize,
             c.repeat(2, axis=2).repeat(2, axis=3)),
            ("ConstantOfShape of a Shape", filled, c + 1.5),
        ]
        for label, nodes, want in cases:
            with self.subTest(label):
                used = {i for n in nodes for i in n.input} | {"w"}
                self.expect([conv] + nodes, {"x": x}, {"y": want}, {k: v for k, v in inits.items() if k in used},
                            label=label)

    def test_outputs_read_again(self):
        x, w, w2 = rand(1, 3, 6, 6), rand(16, 3, 3, 3), rand(4, 16, 1, 1)
        c = ref.conv(x, w, pads=(1, 1, 1, 1))
        conv = N("Conv", ["x", "w"], ["c"], kernel_shape=[3, 3], pads=[1, 1, 1, 1])
        cases = [
            ("a convolution's output read by a Relu", [conv, N("Relu", ["c"], ["y"])],
             {"c": c, "y": np.maximum(c, 0)}),
            ("an output read by a later convolution",
             [conv, N("Relu", ["c"], ["y"]), N("Conv", ["y", "w2"], ["z"], kernel_shape=[1, 1])],
             {"y": np.maximum(c, 0), "z": ref.conv(np.maximum(c, 0), w2)}),
            ("an output that is a reshape, its source read later",
             [conv, N("Flatten", ["c"], ["y"]), N("Sigmoid", ["c"], ["z"])],
             {"y": c.reshape(1, -1), "z": ref.sigmoid(c)}),
            ("an input passed through", [N("Identity", ["x"], ["y"])], {"y": x}),
        ]
        for label, nodes, outputs in cases:
            with self.subTest(label):
                used = {i for n in nodes for i in n.input}
                self.expect(nodes, {"x": x}, outputs, {k: v for k, v in {"w": w, "w2": w2}.items() if k in used},
                            label=label)


class RefusalTest(unittest.TestCase):
    def test_what_is_not_taken_fails_at_load_naming_the_node(self):
        x = rand(1, 3, 4, 4)
        cases = [
            ("an op the executor does not know", N("Cos", ["x"], ["y"], name="odd_cos"), {}),
            ("an op with a shape rule but no lowering", N("Erf", ["x"], ["y"], name="the_erf"), {}),
            ("cubic resize", N("Resize", ["x", "", "scales"], ["y"], mode="cubic", name="cubic_up"),
             {"scales": f32(1, 1, 2, 2)}),
            ("reflecting pad", N("Pad", ["x", "pads"], ["y"], mode="reflect", name="mirror"),
             {"pads": ints(0, 0, 1, 1, 0, 0, 1, 1)}),
            ("slice with a step", N("Slice", ["x", "s", "e", "a", "st"], ["y"], name="every_other"),
             {"s": ints(0), "e": ints(4), "a": ints(3), "st": ints(2)}),
            ("convolution weights computed at run time", N("Conv", ["x", "x"], ["y"], name="self_conv"), {}),
        ]
        for label, node, inits in cases:
            shape = (1, 1, 1, 1) if node.op_type == "Conv" else (1, 3, 8, 8) if node.op_type == "Resize" else \
                (1, 3, 6, 6) if node.op_type == "Pad" else (1, 3, 4, 2) if node.op_type == "Slice" else x.shape
            with self.subTest(label):
                model = make_model([node], {"x": x.shape}, {"y": shape}, inits)
                with self.assertRaises(Refused) as caught:
                    run_model(model, [x])
                line = str(caught.exception)
                self.assertNotIn("\n", line)
                self.assertIn(".onnx", line)
                self.assertIn(node.name, line)
                self.assertIn(node.op_type, line)


if __name__ == "__main__":
    unittest.main()
