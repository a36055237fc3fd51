"""The TFJS converter on graphs the tests build: each converted model must
pass the ONNX checker and, run by OpenCV's DNN module, give the numbers
TensorFlow's semantics give."""

import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools", "convert")
TOOL = os.path.join(TOOLS, "tfjs2onnx.py")
sys.path.insert(0, HERE)
sys.path.insert(0, TOOLS)

import cv2  # noqa: E402
import onnx  # noqa: E402

from onnx_build import opencv_view  # noqa: E402
from tfjs_fixture import Graph  # noqa: E402

rng = np.random.default_rng(7)


def rand(*shape, scale=1.0):
    return (rng.standard_normal(shape) * scale).astype(np.float32)


def pads(kind):
    return dict(padding=kind, data_format="NHWC", dilations=[1, 1, 1, 1])


def ints(*v):
    return np.array(v, np.int32)


def load_in_opencv(path):
    """OpenCV 4.6 reads opset 11's Clip only in the older attribute form."""
    return cv2.dnn.readNetFromONNX(np.frombuffer(opencv_view(onnx.load(path)).SerializeToString(), np.uint8))


class Converted(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def convert(self, g, *options, shards=2, signature=None):
        path = g.save(self.dir.name, shards, signature)
        out = os.path.join(self.dir.name, "model.onnx")
        r = subprocess.run([sys.executable, TOOL, path, out, *options], capture_output=True, text=True)
        return r, out

    def check(self, g, x, outputs, *options, tol=1e-4, nhwc=False, fixed=None):
        """Converts, runs both and compares every output. x: the input "x" or
        {name: value} (channels-last); fixed: {name: value} folded with --constant."""
        fixed = fixed or {}
        for name, v in fixed.items():
            options += ("--constant", "%s=%s" % (name, ",".join(str(f) for f in np.ravel(v))))
        r, out = self.convert(g, "--outputs", ",".join(outputs), *options)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        onnx.checker.check_model(onnx.load(out))
        net = load_in_opencv(out)
        feeds = x if isinstance(x, dict) else {"x": x}
        for name, v in feeds.items():
            net.setInput(np.ascontiguousarray(v.transpose(0, 3, 1, 2) if v.ndim == 4 else v), name)
        got = net.forward([o.partition("=")[2] or o for o in outputs])
        want = g.run({**feeds, **fixed}, [o.partition("=")[0] for o in outputs])
        for name, a, b in zip(outputs, got, want):
            if b.ndim == 4 and not nhwc:
                b = b.transpose(0, 3, 1, 2)
            self.assertEqual(tuple(a.shape), tuple(b.shape), name)
            err = np.abs(a - b).max() / max(1.0, np.abs(b).max())
            self.assertLess(err, tol, "%s differs by %g" % (name, err))
        return got


class Convolutions(Converted):
    def test_plain_strided_dilated_and_grouped(self):
        g = Graph()
        x = g.placeholder("x", [-1, 9, 7, 4])
        # stride 2 over odd sizes: TensorFlow pads more at the bottom and right
        g.op("same2", "Conv2D", [x, g.const("w1", rand(3, 3, 4, 5))], strides=[1, 2, 2, 1], **pads("SAME"))
        g.op("valid", "Conv2D", [x, g.const("w2", rand(2, 3, 4, 3))], strides=[1, 1, 2, 1], **pads("VALID"))
        g.op("dilated", "Conv2D", [x, g.const("w3", rand(3, 3, 4, 2))], strides=[1, 1, 1, 1],
             padding="SAME", dilations=[1, 2, 2, 1])
        g.op("explicit", "Conv2D", [x, g.const("w4", rand(3, 3, 4, 2))], strides=[1, 1, 1, 1],
             padding="EXPLICIT", explicit_paddings=[0, 0, 2, 0, 0, 1, 0, 0])
        g.op("grouped", "Conv2D", [x, g.const("w5", rand(1, 1, 2, 6))], strides=[1, 1, 1, 1], **pads("SAME"))
        self.check(g, rand(1, 9, 7, 4), ["same2", "valid", "dilated", "explicit", "grouped"])

    def test_fused_forms_with_quantised_weights(self):
        g = Graph()
        x = g.placeholder("x", [1, 8, 8, 3])
        y = g.op("bias_relu6", "_FusedConv2D",
                 [x, g.const("w", rand(3, 3, 3, 6), "float16"), g.const("b", rand(6), "float16")],
                 fused_ops=["BiasAdd", "Relu6"], num_args=1, strides=[1, 2, 2, 1], **pads("SAME"))
        g.op("prelu", "_FusedConv2D",
             [y, g.const("w2", rand(1, 1, 6, 4), "uint8"), g.const("b2", rand(4)), g.const("a2", rand(1, 1, 4))],
             fused_ops=["BiasAdd", "Prelu"], num_args=2, strides=[1, 1, 1, 1], **pads("SAME"))
        g.op("bn", "_FusedConv2D",
             [x, g.const("w3", rand(3, 3, 3, 2)), g.const("scale", rand(2)), g.const("offset", rand(2)),
              g.const("mean", rand(2)), g.const("var", np.abs(rand(2)) + 0.5)],
             fused_ops=["FusedBatchNorm", "Relu"], num_args=4, epsilon=0.001, strides=[1, 1, 1, 1],
             **pads("SAME"))
        g.op("dw", "DepthwiseConv2dNative", [y, g.const("dw_w", rand(5, 5, 6, 2))],
             strides=[1, 2, 2, 1], **pads("SAME"))
        g.op("fdw", "FusedDepthwiseConv2dNative", [x, g.const("fdw_w", rand(3, 3, 3, 1)), g.const("fdw_b", rand(3))],
             fused_ops=["BiasAdd", "Relu"], num_args=1, strides=[1, 1, 1, 1], **pads("SAME"))
        self.check(g, rand(1, 8, 8, 3), ["prelu", "bn", "dw", "fdw"], tol=2e-4)


class DilatedConvolutions(Converted):
    def test_space_to_batch_convolutions_become_dilated(self):
        # TensorFlow writes a dilated convolution as blocks of the padded input,
        # a VALID convolution on each, the blocks put back and cropped; the
        # crops may take less or more than the padding added.
        g = Graph()
        x = g.placeholder("x", [1, 9, 11, 4])
        b = g.op("s2b", "SpaceToBatchND", [x, g.const("block", ints(2, 2)), g.const("pad", ints([0, 1], [0, 1]))])
        b = g.op("dw", "DepthwiseConv2dNative", [b, g.const("dw_w", rand(3, 3, 4, 1))],
                 strides=[1, 1, 1, 1], **pads("VALID"))
        g.op("even", "BatchToSpaceND", [b, g.const("block_b", ints(2, 2)), g.const("crop", ints([0, 1], [0, 1]))])
        b = g.op("s2b3", "SpaceToBatchND", [x, g.const("block3", ints(3, 2)), g.const("pad3", ints([2, 1], [0, 1]))])
        b = g.op("conv", "_FusedConv2D", [b, g.const("w", rand(2, 2, 4, 5)), g.const("bias", rand(5))],
                 fused_ops=["BiasAdd", "Relu"], num_args=1, strides=[1, 1, 1, 1], **pads("VALID"))
        g.op("uneven", "BatchToSpaceND", [b, g.const("block3_b", ints(3, 2)), g.const("crop3", ints([1, 2], [1, 0]))])
        r, out = self.convert(g, "--outputs", "even,uneven")
        self.assertEqual(r.returncode, 0, r.stderr)
        convs = [n for n in onnx.load(out).graph.node if n.op_type == "Conv"]
        self.assertEqual(sorted(list(a.ints) for n in convs for a in n.attribute if a.name == "dilations"),
                         [[2, 2], [3, 2]])
        self.check(g, rand(1, 9, 11, 4), ["even", "uneven"])


class FixedSizes(Converted):
    def resize_unless_one(self):
        # RVM's downsampling: a branch on the ratio, sizes computed from Shape,
        # then a decoder-style crop of an upsampled map to a size read off
        # the input.
        g = Graph()
        x = g.placeholder("x", [-1, -1, -1, 3])
        ratio = g.placeholder("ratio", None)
        one = g.op("one", "Squeeze", [g.op("eq", "Equal", [ratio, g.const("c1", np.float32(1))])])
        g.op("sx", "Switch", [x, one])
        g.op("sr", "Switch", [ratio, one])
        hw = g.op("hw", "StridedSlice", [g.op("shape", "Shape", ["sx"]), g.const("b", ints(1)), g.const("e", ints(3)),
                                         g.const("s", ints(1))], begin_mask=0, end_mask=0, shrink_axis_mask=0)
        hw = g.op("hwf", "Cast", [hw], DstT={"type": "DT_FLOAT"})
        size = g.op("size", "Cast", [g.op("scaled", "Mul", [hw, "sr"])], DstT={"type": "DT_INT32"})
        small = g.op("small", "ResizeBilinear", ["sx", size], align_corners=False, half_pixel_centers=True)
        m = g.op("m", "Merge", ["sx:1", small])
        up_size = g.op("up_size", "Mul", [g.op("mhw", "StridedSlice", [
            g.op("mshape", "Shape", [m]), g.const("b2", ints(1)), g.const("e2", ints(3)), g.const("s2", ints(1))]),
            g.const("two", ints(2))])
        up = g.op("up", "ResizeBilinear", [m, up_size], align_corners=False, half_pixel_centers=True)
        xs = g.op("xshape", "Shape", [x])
        dims = [g.op("d%d" % i, "StridedSlice", [xs, g.const("db%d" % i, ints(i)), g.const("de%d" % i, ints(i + 1)),
                                                 g.const("ds%d" % i, ints(1))], shrink_axis_mask=1) for i in (1, 2)]
        dims = [g.op("even%d" % i, "Sub", [d, g.op("rest%d" % i, "FloorMod", [d, g.const("four%d" % i, np.int32(4))])])
                for i, d in enumerate(dims)]
        size = g.op("crop_size", "Pack", [g.const("n", np.int32(1)), *dims, g.const("all", np.int32(-1))], axis=0)
        g.op("crop", "Slice", [up, g.const("begin", ints(0, 0, 1, 0)), size])
        return g

    def test_shape_arithmetic_and_the_branch_fold_for_each_ratio(self):
        x = rand(1, 9, 11, 3)
        got = self.check(self.resize_unless_one(), x, ["m", "crop"], "--input-shape", "x=1,9,11,3",
                         fixed={"ratio": np.float32(0.5)})
        self.assertEqual(got[0].shape, (1, 3, 4, 5))  # 4.5 x 5.5 truncated
        self.assertEqual(got[1].shape, (1, 3, 8, 8))
        got = self.check(self.resize_unless_one(), x, ["m", "crop"], "--input-shape", "x=1,9,11,3",
                         fixed={"ratio": np.float32(1)})
        np.testing.assert_array_equal(got[0], x.transpose(0, 3, 1, 2))

    def test_recurrent_state_takes_the_shape_it_is_broadcast_to(self):
        # A ConvGRU as RVM writes it (the state comes as a 1x1x1x1 zero on the
        # first frame), then the output head of its guided filter: channel
        # mean, squares, a quotient of tensors and clip_by_value.
        g = Graph()
        x = g.placeholder("x", [1, 6, 8, 8])
        h = g.placeholder("h", None)
        g.op("a", "Split", [g.const("axis", np.int32(-1)), x], num_split=2)
        hb = g.op("hb", "BroadcastTo", [h, g.op("hs", "Shape", ["a:1"])])

        def conv(name, src, cout):
            return g.op(name, "_FusedConv2D", [src, g.const(name + "_w", rand(3, 3, 8, cout)),
                                               g.const(name + "_b", rand(cout))],
                        fused_ops=["BiasAdd"], num_args=1, strides=[1, 1, 1, 1], **pads("SAME"))
        zr = g.op("zr_gate", "Sigmoid", [conv("zr", g.op("cat", "ConcatV2", ["a:1", hb, g.const("ax", np.int32(3))]), 8)])
        g.op("zr_split", "Split", [g.const("axis2", np.int32(3)), zr], num_split=2)
        rh = g.op("rh", "Mul", ["zr_split:1", hb])
        c = g.op("c", "Tanh", [conv("cand", g.op("cat2", "ConcatV2", ["a:1", rh, g.const("ax2", np.int32(3))]), 4)])
        keep = g.op("keep", "Mul", [g.op("one_minus", "Sub", [g.const("one", np.float32(1)), "zr_split"]), hb])
        new = g.op("new", "AddV2", [keep, g.op("upd", "Mul", ["zr_split", c])])
        g.op("out", "ConcatV2", ["a", new, g.const("ax3", np.int32(3))])

        head = conv("head", "out", 4)
        g.op("parts", "SplitV", [head, g.const("sizes", ints(3, 1)), g.const("axis4", np.int32(-1))])
        whole = g.op("whole", "ConcatV2", ["parts", "parts:1", g.const("ax4", np.int32(-1))])
        mean = g.op("mean", "Mean", [x, g.const("chan", ints(-1))], keep_dims=True)
        var = g.op("var", "AddV2", [g.op("sq", "Square", [mean]), g.const("eps", np.float32(0.5))])
        q = g.op("q", "RealDiv", [g.op("cov", "Mul", [whole, mean]), var])
        g.op("pha", "Maximum", [g.op("lo", "Minimum", [q, g.const("hi", np.float32(1))]), g.const("zero", np.float32(0))])

        feeds = {"x": rand(1, 6, 8, 8), "h": rand(1, 6, 8, 4)}
        self.check(g, feeds, ["new", "out", "pha"])
        _, out = self.convert(g, "--outputs", "new,pha")
        m = onnx.load(out)
        self.assertEqual([[d.dim_value for d in i.type.tensor_type.shape.dim] for i in m.graph.input if i.name == "h"],
                         [[1, 4, 6, 8]])
        ops = [n.op_type for n in m.graph.node]
        self.assertEqual(ops.count("Clip"), 1, "clip_by_value is one Clip")
        self.assertEqual(ops.count("Concat"), 3, "the SplitV pieces are put back without a Concat")
        self.assertFalse({"Min", "Max", "Expand"} & set(ops))


class Narrowing(Converted):
    def test_only_the_exported_channels_are_computed(self):
        # RVM's guided filter works out colour and alpha together and splits
        # them at the end; exporting the alpha alone must not compute the
        # colour at full size.
        g = Graph()
        x = g.placeholder("x", [1, 6, 8, 8])
        lr = g.op("lr", "_FusedConv2D", [x, g.const("w", rand(3, 3, 8, 4)), g.const("b", rand(4))],
                  fused_ops=["BiasAdd"], num_args=1, strides=[1, 1, 1, 1], **pads("SAME"))
        rgb = g.op("rgb", "Slice", [x, g.const("begin", ints(0, 0, 0, 0)), g.const("size", ints(-1, -1, -1, 3))])
        mean = g.op("mean", "Mean", [x, g.const("chan", ints(3))], keep_dims=True)
        guide = g.op("guide", "ConcatV2", [rgb, mean, g.const("ax", np.int32(3))])
        box = g.const("box", np.full((3, 3, 4, 1), 1 / 9, np.float32))

        def blur(name, t):
            return g.op(name, "DepthwiseConv2dNative", [t, box], strides=[1, 1, 1, 1], **pads("VALID"))
        cov = blur("cov", g.op("xy", "Mul", [guide, lr]))
        var = g.op("var", "AddV2", [g.op("sq", "Square", [blur("mx", guide)]), g.const("eps", np.float32(0.1))])
        a = g.op("a", "RealDiv", [cov, var])
        size = g.const("full", ints(12, 16))
        up = g.op("up", "ResizeBilinear", [a, size], align_corners=False, half_pixel_centers=True)
        big = g.op("big", "ResizeBilinear", [guide, size], align_corners=False, half_pixel_centers=True)
        out = g.op("out", "AddV2", [g.op("ax_", "Mul", [up, big]), g.op("shift", "Mul", [up, g.const("k", rand(4))])])
        g.op("parts", "SplitV", [out, g.const("sizes", ints(3, 1)), g.const("axis", np.int32(-1))])
        g.op("pha", "Relu", ["parts:1"])
        self.check(g, rand(1, 6, 8, 8), ["pha"])

        _, path = self.convert(g, "--outputs", "pha")
        m = onnx.shape_inference.infer_shapes(onnx.load(path))
        wide = [vi.name for vi in m.graph.value_info
                if [d.dim_value for d in vi.type.tensor_type.shape.dim][1:2] not in ([1], [])]
        self.assertEqual(wide, [], "tensors with more than the alpha channel")
        self.assertNotIn("Split", [n.op_type for n in m.graph.node])


class Blocks(Converted):
    def test_blaze_block_with_channel_padding(self):
        # the residual block of the face models: pool, pad the channels, add, PReLU
        g = Graph()
        x = g.placeholder("x", [-1, 8, 8, 4])
        c = g.op("c", "DepthwiseConv2dNative", [x, g.const("dw", rand(3, 3, 4, 1))],
                 strides=[1, 2, 2, 1], **pads("SAME"))
        c = g.op("c2", "_FusedConv2D", [c, g.const("pw", rand(1, 1, 4, 8)), g.const("pb", rand(8))],
                 fused_ops=["BiasAdd"], num_args=1, strides=[1, 1, 1, 1], **pads("VALID"))
        p = g.op("pool", "MaxPool", [x], ksize=[1, 2, 2, 1], strides=[1, 2, 2, 1], **pads("VALID"))
        p = g.op("pad", "Pad", [p, g.const("paddings", np.array([[0, 0], [0, 0], [0, 0], [0, 4]], np.int32))])
        s = g.op("sum", "AddV2", [c, p])
        g.op("out", "Prelu", [s, g.const("alpha", rand(1, 1, 8))])
        g.op("spatial", "Pad", [x, g.const("sp", np.array([[0, 0], [1, 2], [0, 1], [0, 0]], np.int32))])
        g.op("maxsame", "MaxPool", [x], ksize=[1, 3, 3, 1], strides=[1, 2, 2, 1], **pads("SAME"))
        g.op("avgsame", "AvgPool", [x], ksize=[1, 3, 3, 1], strides=[1, 2, 2, 1], **pads("SAME"))
        self.check(g, rand(1, 8, 8, 4), ["out", "spatial", "maxsame", "avgsame"])

    def test_squeeze_excite_and_hard_swish(self):
        g = Graph()
        x = g.placeholder("x", [1, 6, 6, 8])
        m = g.op("mean", "Mean", [x, g.const("axes", np.array([1, 2], np.int32))], keep_dims=True)
        m = g.op("fc", "_FusedConv2D", [m, g.const("fw", rand(1, 1, 8, 8)), g.const("fb", rand(8))],
                 fused_ops=["BiasAdd", "Relu"], num_args=1, strides=[1, 1, 1, 1], **pads("SAME"))
        m = g.op("gate", "Sigmoid", [m])
        y = g.op("se", "Mul", [x, m])
        # hard swish as the converted MobileNets write it: x * relu6(x + 3) / 6
        t = g.op("plus3", "AddV2", [y, g.const("three", np.float32(3))])
        t = g.op("r6", "Relu6", [t])
        t = g.op("sixth", "Mul", [g.const("k", np.float32(1 / 6)), t])
        g.op("hs", "Mul", [y, t])
        g.op("shift", "Sub", [y, g.const("sub", rand(8))])
        g.op("halve", "RealDiv", [y, g.const("two", np.float32(2))])
        g.op("flat_mean", "Mean", [x, g.const("axes2", np.array([1, 2], np.int32))], keep_dims=False)
        self.check(g, rand(1, 6, 6, 8), ["hs", "shift", "halve", "flat_mean"])

    def test_dense_groups_become_convolutions(self):
        # Reshape-MatMul-Reshape over the channels of a pooled map, then a gate
        g = Graph()
        x = g.placeholder("x", [1, 4, 6, 8])
        p = g.op("pool", "AvgPool", [x], ksize=[1, 4, 6, 1], strides=[1, 4, 6, 1], **pads("VALID"))
        r = g.op("rows", "Reshape", [p, g.const("s1", np.array([-1, 8], np.int32))])
        r = g.op("mm", "MatMul", [r, g.const("k1", rand(8, 8))], transpose_a=False, transpose_b=False)
        r = g.op("back", "Reshape", [r, g.const("s2", np.array([1, 1, 1, 8], np.int32))])
        r = g.op("bias", "BiasAdd", [r, g.const("b1", rand(8))], data_format="NHWC")
        r = g.op("gate", "Sigmoid", [r])
        g.op("gated", "Mul", [x, r])
        # a flatten of a map wider than 1x1 needs TensorFlow's element order
        f = g.op("flat", "Reshape", [x, g.const("s3", np.array([1, -1], np.int32))])
        g.op("dense", "MatMul", [f, g.const("k2", rand(5, 192))], transpose_a=False, transpose_b=True)
        self.check(g, rand(1, 4, 6, 8), ["gated", "dense"])


class Resampling(Converted):
    def test_resize_modes_depth_to_space_concat(self):
        g = Graph()
        x = g.placeholder("x", [1, 5, 6, 4])
        size = g.const("size", np.array([10, 12], np.int32))
        down = g.const("down", np.array([3, 4], np.int32))
        g.op("asym", "ResizeBilinear", [x, size], align_corners=False, half_pixel_centers=False)
        g.op("half", "ResizeBilinear", [x, size], align_corners=False, half_pixel_centers=True)
        g.op("corners", "ResizeBilinear", [x, size], align_corners=True, half_pixel_centers=False)
        g.op("halfdown", "ResizeBilinear", [x, down], align_corners=False, half_pixel_centers=True)
        g.op("nearest", "ResizeNearestNeighbor", [x, size], align_corners=False, half_pixel_centers=False)
        g.op("d2s", "DepthToSpace", [x], block_size=2, data_format="NHWC")
        g.op("cat", "ConcatV2", [x, g.op("r", "Relu", [x]), g.const("axis", np.int32(-1))])
        self.check(g, rand(1, 5, 6, 4), ["asym", "half", "corners", "halfdown", "nearest", "d2s", "cat"])

    def test_transposed_convolutions(self):
        g = Graph()
        x = g.placeholder("x", [1, 5, 4, 3])
        g.op("up2", "Conv2DBackpropInput",
             [g.const("sz", np.array([1, 10, 8, 2], np.int32)), g.const("w", rand(2, 2, 2, 3)), x],
             strides=[1, 2, 2, 1], **pads("SAME"))
        # kernel 3 at stride 2: the crop is uneven, as TensorFlow pads the forward conv
        g.op("up3", "Conv2DBackpropInput",
             [g.const("sz3", np.array([1, 10, 8, 2], np.int32)), g.const("w3", rand(3, 3, 2, 3)), x],
             strides=[1, 2, 2, 1], **pads("SAME"))
        self.check(g, rand(1, 5, 4, 3), ["up2", "up3"])


class CommandLine(Converted):
    def simple(self):
        g = Graph()
        x = g.placeholder("x", [-1, 4, 4, 2])
        y = g.op("conv", "Conv2D", [x, g.const("w", rand(1, 1, 2, 3))], strides=[1, 1, 1, 1], **pads("SAME"))
        g.op("Identity", "Identity", [y])
        f = g.op("flat", "Reshape", [y, g.const("s", np.array([1, -1], np.int32))])
        g.op("Identity_1", "Identity", [f])
        return g

    def test_outputs_renamed_channels_last_and_pruned(self):
        g = self.simple()
        g.op("odd", "Unique", ["x"])  # unsupported, but nothing asked for needs it
        self.check(g, rand(1, 4, 4, 2), ["Identity=map", "Identity_1:0=flat"], "--nhwc-outputs", nhwc=True)

    def test_signature_outputs_are_the_default(self):
        g = self.simple()
        sig = {"outputs": {"a": {"name": "Identity_1:0"}}}
        r, out = self.convert(g, signature=sig)
        self.assertEqual(r.returncode, 0, r.stderr)
        net = load_in_opencv(out)
        self.assertEqual(list(net.getUnconnectedOutLayersNames()), ["Identity_1"])

    def test_failures_are_one_line_and_leave_no_file(self):
        g = self.simple()
        g.op("odd", "Unique", ["conv"])
        r, out = self.convert(g, "--outputs", "odd")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
        self.assertIn("unsupported op Unique", r.stderr)
        self.assertFalse(os.path.exists(out))

        g = self.simple()
        path = g.save(self.dir.name, 2)
        shard = os.path.join(self.dir.name, "group1-shard2of2.bin")
        with open(shard, "r+b") as f:
            f.truncate(3)
        r = subprocess.run([sys.executable, TOOL, path, out], capture_output=True, text=True)
        self.assertEqual(r.returncode, 1)
        self.assertIn("weight shards end before weight", r.stderr)
        os.remove(shard)
        r = subprocess.run([sys.executable, TOOL, path, out], capture_output=True, text=True)
        self.assertIn("can't read weight shard", r.stderr)
        self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
        self.assertFalse(os.path.exists(out))

    def test_open_inputs_and_branches_need_fixed_values(self):
        g = FixedSizes.resize_unless_one(None)
        r, out = self.convert(g, "--outputs", "m", "--input-shape", "x=1,9,11,3")
        self.assertEqual(r.returncode, 1)
        self.assertIn("input ratio has no known shape", r.stderr)
        self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
        self.assertFalse(os.path.exists(out))
        g = FixedSizes.resize_unless_one(None)
        g.op("bad_branch", "Switch", ["x", "x"])
        r, out = self.convert(g, "--outputs", "bad_branch:1", "--input-shape", "x=1,9,11,3")
        self.assertIn("the branch condition must fold to one constant", r.stderr)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
