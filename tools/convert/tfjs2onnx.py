#!/usr/bin/env python3
"""Converts a TensorFlow.js graph model to a standard float32 ONNX model
(opset 11, checked with onnx.checker) at fixed input sizes.

    python3 tools/convert/tfjs2onnx.py MODEL.json OUT.onnx [options]

Options:
  --outputs A,B=name,...   the tensors to export (TF names such as Identity_2
                           or Identity_2:0; `=name` renames the ONNX output).
                           Default: the signature's outputs, else every node
                           nothing else consumes. Only what they need is kept.
  --input-shape [NAME=]1,H,W,C
                           an input's TF (channels-last) shape, for models
                           whose placeholder leaves sizes open (batch -1 is
                           1); without NAME= it applies to every input. May
                           be repeated.
  --constant NAME=V[,V...] feed an input a fixed value and fold it away (a
                           downsample ratio that the graph branches on).
  --nhwc-outputs           give 4D outputs channels-last as TensorFlow does
                           (default: channels-first).

Inputs become channels-first: a 1xHxWxC placeholder is the ONNX input 1xCxHxW
named after the placeholder (what cv::dnn::blobFromImage gives). An input of
unknown rank that the graph only broadcasts to a known shape (a recurrent
state fed as a 1x1x1x1 zero on the first frame) takes that full shape.
Weight shards may be float32 or quantised (float16, uint8, uint16).

Ops: Conv2D, DepthwiseConv2dNative, _FusedConv2D and FusedDepthwiseConv2dNative
(BiasAdd or FusedBatchNorm, then Relu, Relu6, Elu, LeakyRelu, Prelu, Sigmoid
or Tanh), Conv2DBackpropInput, BiasAdd, Add, AddV2, AddN, Sub, Mul, RealDiv,
Maximum, Minimum, Square, Relu, Relu6, Elu, LeakyRelu, Prelu, Sigmoid, Tanh,
MaxPool, AvgPool, Mean, Pad, PadV2, MirrorPad (reflect), ConcatV2, Split,
SplitV, Slice, BroadcastTo, Reshape, MatMul, ResizeBilinear,
ResizeNearestNeighbor, DepthToSpace, Identity, Cast. Reshape-MatMul-Reshape
groups over the channels of a 4D tensor become 1x1 convolutions;
SpaceToBatchND, convolution, BatchToSpaceND becomes one dilated convolution;
Minimum/Maximum against constants become one Clip. Constant subgraphs are
folded, with Shape, StridedSlice, Pack, Squeeze, Equal, FloorMod and the
Switch/Merge branches that depend only on them. Where only some pieces of a
channel Split are exported, only their channels are computed (onnx_narrow).

On failure it prints one line ("tfjs2onnx: ...") on standard error, exits
with status 1 and leaves no output file.
"""

import argparse
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from onnx_build import NCHW_TO_NHWC, NHWC_TO_NCHW, ConvertError, GraphBuilder, save_model, tidy  # noqa: E402
from onnx_narrow import narrow_channels  # noqa: E402
import tfjs_model  # noqa: E402
from tfjs_static import DEAD, StaticOps, Value, const as _const  # noqa: E402

_TF_TYPES = {"DT_FLOAT": np.float32, "DT_INT32": np.int32, "DT_BOOL": np.bool_}
# Ops that may take a SpaceToBatchND's blocks (and give a dilated convolution).
_BLOCK_CONVS = ("Conv2D", "_FusedConv2D", "DepthwiseConv2dNative", "FusedDepthwiseConv2dNative")


class Converter(StaticOps):
    def __init__(self, model, input_shapes=None, constants=None):
        """input_shapes: {name or None (every input): TF shape};
        constants: {name: array} for inputs folded away."""
        self.model = model
        self.b = GraphBuilder("tfjs")
        self.input_shapes = input_shapes or {}
        self.constants = constants or {}
        self.values = {}

    # ---- layout helpers -------------------------------------------------
    def plain(self, v):
        """The ONNX tensor of v in TensorFlow's own layout."""
        if v.const is not None:
            return self.b.const(v.const.astype(np.float32) if v.const.dtype.kind == "f" else v.const)
        if v.layout == "nchw":
            return self.b.transpose(v.name, NCHW_TO_NHWC)
        if v.layout == "rows":
            t = self.b.transpose(v.name, NCHW_TO_NHWC)
            return self.b.reshape(t, [-1, v.grid[3]])
        return v.name

    def nchw(self, v):
        """The ONNX tensor of a 4D value, channels-first."""
        if len(v.shape) != 4 and v.layout != "rows":
            raise ConvertError("expected a 4D tensor, got shape %s" % v.shape)
        if v.const is not None:
            return self.b.const(np.transpose(v.const, NHWC_TO_NCHW))
        if v.layout in ("nchw", "rows"):
            return v.name
        return self.b.transpose(v.name, NHWC_TO_NCHW)

    def channel_const(self, c, target):
        """A constant operand for a channels-first target (nchw or rows),
        broadcast as TensorFlow would against the target's shape."""
        c = np.asarray(c, np.float32)
        if c.ndim == 0 or c.size == 1:
            return c.reshape([1]) if c.ndim else c
        if target.layout == "rows":
            if c.shape[-1] != target.grid[3] or c.size != c.shape[-1]:
                raise ConvertError("can't broadcast a %s constant over rows" % list(c.shape))
            return c.reshape(1, -1, 1, 1)
        c = c.reshape([1] * (4 - c.ndim) + list(c.shape))
        return np.transpose(c, NHWC_TO_NCHW)

    def out4(self, name, shape):
        return Value(name, shape, "nchw")

    # ---- graph walk -----------------------------------------------------
    def value(self, ref):
        name, _, idx = ref.partition(":")
        if name not in self.values:
            raise ConvertError("tensor %s is used before it is made" % name)
        v, k = self.values[name], int(idx or 0)
        if isinstance(v, list):
            if k >= len(v):
                raise ConvertError("%s has no output %d" % (name, k))
            return v[k]
        if k and v is not DEAD:
            raise ConvertError("output %d of %s is not supported" % (k, name))
        return v

    def needed(self, outputs):
        order, seen = [], set()
        stack = [(o.partition(":")[0], False) for o in outputs]
        while stack:
            name, done = stack.pop()
            if done:
                order.append(name)
                continue
            if name in seen:
                continue
            if name not in self.model.nodes:
                raise ConvertError("the model has no node %s" % name)
            seen.add(name)
            stack.append((name, True))
            for i in self.model.nodes[name].inputs:
                stack.append((i.partition(":")[0], False))
        return order

    def convert(self, outputs, nhwc_outputs=False):
        for name in self.needed([o for o, _ in outputs]):
            node = self.model.nodes[name]
            handler = getattr(self, "op_" + node.op.lstrip("_"), None)
            if handler is None:
                raise ConvertError("unsupported op %s (node %s)" % (node.op, node.name))
            ins = [self.value(i) for i in node.inputs]
            if node.op != "Merge" and any(v is DEAD for v in ins):
                self.values[name] = DEAD
                continue
            try:
                self._check_layouts(node, ins)
                v = handler(node, ins)
            except ConvertError as e:
                raise ConvertError("%s (node %s, op %s)" % (e, node.name, node.op))
            self.values[name] = v
        # Inputs in the order the model declares them, not the order met.
        order = {name: i for i, name in enumerate(self.model.nodes)}
        self.b.inputs.sort(key=lambda vi: order.get(vi.name, len(order)))
        for ref, onnx_name in outputs:
            v = self.value(ref)
            if v is DEAD:
                raise ConvertError("output %s is on a branch the graph does not take" % ref)
            if v.const is not None:
                raise ConvertError("output %s is a constant" % ref)
            self._check_layouts(None, [v])
            if v.layout == "nchw" and not nhwc_outputs:
                n, h, w, c = v.shape
                self.b.output(v.name, onnx_name, [n, c, h, w])
            else:
                self.b.output(self.plain(v), onnx_name, v.shape)
        return self.b

    @staticmethod
    def _check_layouts(node, ins):
        """Values that are not tensors yet may only go where they can become one."""
        for v in ins:
            if v.layout == "open" and (node is None or node.op != "BroadcastTo"):
                raise ConvertError("input %s has no known shape; give --input-shape %s=... or --constant"
                                   % (v.name, v.name))
            if v.layout == "batched" and (node is None or node.op not in _BLOCK_CONVS):
                raise ConvertError("SpaceToBatchND is only supported in front of a convolution")
            if v.layout == "dilated" and (node is None or node.op != "BatchToSpaceND"):
                raise ConvertError("a convolution over SpaceToBatchND blocks must go to BatchToSpaceND")

    # ---- sources --------------------------------------------------------
    def op_Placeholder(self, node, ins):
        if node.name in self.constants:
            return _const(self.constants[node.name])
        shape = self.input_shapes.get(node.name) or self.input_shapes.get(None)
        if shape is None and not node.attr.get("shape", {}).get("shape", {}).get("unknownRank"):
            shape = node.shape()
        if shape is None:
            self.b.input(node.name, None)
            return Value(node.name, None, "open")
        shape = [1 if (i == 0 and s < 0) else s for i, s in enumerate(shape)]
        if not shape or any(s <= 0 for s in shape):
            raise ConvertError("input %s has open sizes %s; give --input-shape" % (node.name, shape))
        if len(shape) == 4:
            n, h, w, c = shape
            self.b.input(node.name, [n, c, h, w])
            return Value(node.name, shape, "nchw")
        self.b.input(node.name, shape)
        return Value(node.name, shape)

    def op_Const(self, node, ins):
        if node.name not in self.model.weights:
            raise ConvertError("constant %s has no weights" % node.name)
        return _const(self.model.weights[node.name])

    def op_Identity(self, node, ins):
        return ins[0]

    op_StopGradient = op_Snapshot = op_Identity

    def op_Cast(self, node, ins):
        dst = _TF_TYPES.get(node.attr.get("DstT", {}).get("type"))
        if ins[0].const is not None and dst is not None:
            return _const(ins[0].const.astype(dst))  # float to int truncates, as TF does
        if dst is not np.float32:
            raise ConvertError("only casts to float are supported")
        return ins[0]

    def op_BroadcastTo(self, node, ins):
        x, shape = ins
        if shape.const is None:
            raise ConvertError("the target shape must be constant")
        target = [int(s) for s in shape.const.reshape(-1)]
        if x.layout == "open":  # the input is fed at the full shape
            x.shape = target
            if len(target) == 4:
                x.layout = "nchw"
                self.b.set_input_shape(x.name, [target[i] for i in NHWC_TO_NCHW])
            else:
                x.layout = "plain"
                self.b.set_input_shape(x.name, target)
            return x
        if x.const is not None:
            return _const(np.broadcast_to(x.const, target))
        if x.shape == target:
            return x
        if x.layout == "nchw" and len(target) == 4:
            y = self.b.node("Expand", [x.name, self.b.const(np.array([target[i] for i in NHWC_TO_NCHW]), "shape")])
            return self.out4(y, target)
        return Value(self.b.node("Expand", [self.plain(x), self.b.const(np.array(target), "shape")]), target)

    # ---- convolutions ---------------------------------------------------
    def _check_nhwc(self, node):
        if node.s("data_format", "NHWC") != "NHWC":
            raise ConvertError("data format %s is not supported" % node.s("data_format"))

    @staticmethod
    def _pads(node, size, kernel, stride, dilation):
        """TensorFlow padding as explicit (before, after) and the output size."""
        mode = node.s("padding", "VALID")
        eff = (kernel - 1) * dilation + 1
        if mode == "SAME":
            out = -(-size // stride)
            total = max((out - 1) * stride + eff - size, 0)
            return (total // 2, total - total // 2), out
        if mode == "VALID":
            return (0, 0), (size - eff) // stride + 1
        raise ConvertError("padding %s is not supported" % mode)

    def _spatial(self, node, x, kh, kw, strides, dilations):
        n, h, w, c = x.shape
        if node.s("padding") == "EXPLICIT":
            p = node.ints("explicit_paddings")
            (pt, pb), (pl, pr) = (p[2], p[3]), (p[4], p[5])
            oh = (h + pt + pb - ((kh - 1) * dilations[0] + 1)) // strides[0] + 1
            ow = (w + pl + pr - ((kw - 1) * dilations[1] + 1)) // strides[1] + 1
        else:
            (pt, pb), oh = self._pads(node, h, kh, strides[0], dilations[0])
            (pl, pr), ow = self._pads(node, w, kw, strides[1], dilations[1])
        if oh <= 0 or ow <= 0:
            raise ConvertError("the kernel is larger than its %dx%d input" % (h, w))
        return [pt, pl, pb, pr], oh, ow

    def _activation(self, kind, y, channels, node, alpha=None):
        b = self.b
        if kind == "Relu":
            return b.node("Relu", [y])
        if kind == "Relu6":
            return b.clip(y, 0.0, 6.0)
        if kind == "Elu":
            return b.node("Elu", [y], alpha=1.0)
        if kind == "LeakyRelu":
            return b.node("LeakyRelu", [y], alpha=node.f("leakyrelu_alpha", node.f("alpha", 0.2)))
        if kind == "Sigmoid":
            return b.node("Sigmoid", [y])
        if kind == "Tanh":
            return b.node("Tanh", [y])
        if kind == "Prelu":
            if alpha is None or alpha.const is None:
                raise ConvertError("Prelu needs a constant alpha")
            return b.node("PRelu", [y, b.const(self._slope(alpha.const, channels))])
        raise ConvertError("fused activation %s is not supported" % kind)

    @staticmethod
    def _slope(alpha, channels):
        a = np.asarray(alpha, np.float32)
        if a.size == 1:
            return np.full((channels, 1, 1), a.reshape(-1)[0], np.float32)
        if a.size == channels:
            return a.reshape(channels, 1, 1)
        if a.ndim == 3:  # per position [H, W, C]
            return np.transpose(a, (2, 0, 1))
        raise ConvertError("Prelu alpha of shape %s" % list(a.shape))

    def _conv(self, node, ins, depthwise, fused, deferred=False):
        """deferred: return (emit(pads, dilations), output channels) and write nothing yet."""
        self._check_nhwc(node)
        x, f = ins[0], ins[1]
        if f.const is None:
            raise ConvertError("the filter must be a constant")
        w = np.asarray(f.const, np.float32)
        kh, kw = w.shape[:2]
        strides = (node.ints("strides") or [1, 1, 1, 1])[1:3]
        dilations = (node.ints("dilations") or [1, 1, 1, 1])[1:3]
        if x.layout == "batched":
            return self._block_conv(node, ins, depthwise, fused, w, strides, dilations)
        pads, oh, ow = self._spatial(node, x, kh, kw, strides, dilations)
        n, _, _, c = x.shape
        if depthwise:
            m = w.shape[3]
            weight = np.transpose(w, (2, 3, 0, 1)).reshape(c * m, 1, kh, kw)
            group, cout = c, c * m
        else:
            if c % w.shape[2]:
                raise ConvertError("%d input channels for a filter of %d" % (c, w.shape[2]))
            weight = np.transpose(w, (3, 2, 0, 1))
            group, cout = c // w.shape[2], w.shape[3]
        bias, activation, extra = None, [], []
        if fused:
            ops, args = node.strings("fused_ops"), ins[2:]
            if any(a.const is None for a in args[:1]):
                raise ConvertError("fused arguments must be constants")
            if ops and ops[0] == "BiasAdd":
                bias = np.asarray(args[0].const, np.float32).reshape(-1)
                activation, extra = ops[1:], args[1:]
            elif ops and ops[0] in ("FusedBatchNorm", "FusedBatchNormV3"):
                scale, offset, mean, var = (np.asarray(a.const, np.float32).reshape(-1) for a in args[:4])
                factor = scale / np.sqrt(var + np.float32(node.f("epsilon", 0.001)))
                weight = weight * factor.reshape(-1, 1, 1, 1)
                bias = offset - mean * factor
                activation, extra = ops[1:], args[4:]
            elif ops:
                raise ConvertError("fused ops %s are not supported" % ops)
            if len(activation) > 1:
                raise ConvertError("fused ops %s are not supported" % ops)
        inputs = [self.nchw(x), self.b.const(weight, "weight")]
        if bias is not None:
            inputs.append(self.b.const(bias, "bias"))

        def emit(pads, dilations):
            y = self.b.node("Conv", inputs, kernel_shape=[kh, kw], strides=list(strides),
                            dilations=list(dilations), pads=list(pads), group=group)
            if activation:
                y = self._activation(activation[0], y, cout, node, extra[0] if extra else None)
            return y
        if deferred:
            return emit, cout
        return self.out4(emit(pads, dilations), [n, oh, ow, cout])

    # SpaceToBatchND, a VALID convolution on each block, BatchToSpaceND is how
    # TensorFlow writes a dilated convolution: it is one, over the input
    # padded as SpaceToBatchND pads it, then cropped as BatchToSpaceND crops.
    def op_SpaceToBatchND(self, node, ins):
        x, block, paddings = ins
        if block.const is None or paddings.const is None:
            raise ConvertError("block shape and paddings must be constant")
        block = [int(b) for b in block.const.reshape(-1)]
        p = np.asarray(paddings.const, np.int64).reshape(-1, 2)
        if len(x.shape) != 4 or len(block) != 2:
            raise ConvertError("only 2D blocks of a 4D tensor are supported")
        n, h, w, c = x.shape
        hp, wp = h + p[0].sum(), w + p[1].sum()
        if hp % block[0] or wp % block[1]:
            raise ConvertError("padded size %dx%d is not a multiple of the block" % (hp, wp))
        shape = [n * block[0] * block[1], hp // block[0], wp // block[1], c]
        return Value(None, shape, "batched", via=(x, block, p))

    def _block_conv(self, node, ins, depthwise, fused, w, strides, dilations):
        src, block, p = ins[0].via
        if node.s("padding") != "VALID" or list(strides) != [1, 1] or list(dilations) != [1, 1]:
            raise ConvertError("only a VALID, undilated stride-1 convolution may run on SpaceToBatchND blocks")
        emit, cout = self._conv(node, [src] + ins[1:], depthwise, fused, deferred=True)
        kh, kw = w.shape[:2]
        n, hb, wb, _ = ins[0].shape
        shape = [n, hb - kh + 1, wb - kw + 1, cout]
        return Value(None, shape, "dilated", via=(emit, block, p, src))

    def op_BatchToSpaceND(self, node, ins):
        y, block, crops = ins
        if y.layout != "dilated":
            raise ConvertError("BatchToSpaceND is only supported after SpaceToBatchND and a convolution")
        emit, block_in, p, src = y.via
        if crops.const is None or block.const is None or [int(b) for b in block.const.reshape(-1)] != block_in:
            raise ConvertError("crops must be constant and the block the one SpaceToBatchND used")
        c = np.asarray(crops.const, np.int64).reshape(-1, 2)
        # Padding that the crop removes again is never added; a crop beyond
        # the padding slices the result.
        keep = p - c
        pads = np.maximum(keep, 0)
        out = emit([pads[0, 0], pads[1, 0], pads[0, 1], pads[1, 1]], block_in)
        n, bh, bw, cout = y.shape
        oh, ow = bh * block_in[0] - c[0].sum(), bw * block_in[1] - c[1].sum()
        cut = np.maximum(-keep, 0)
        if cut.any():
            out = self.b.slice(out, [cut[0, 0], cut[1, 0]], [cut[0, 0] + oh, cut[1, 0] + ow], [2, 3])
        return self.out4(out, [src.shape[0], oh, ow, cout])

    def op_Conv2D(self, node, ins):
        return self._conv(node, ins, depthwise=False, fused=False)

    def op_FusedConv2D(self, node, ins):
        return self._conv(node, ins, depthwise=False, fused=True)

    def op_DepthwiseConv2dNative(self, node, ins):
        return self._conv(node, ins, depthwise=True, fused=False)

    def op_FusedDepthwiseConv2dNative(self, node, ins):
        return self._conv(node, ins, depthwise=True, fused=True)

    def op_Conv2DBackpropInput(self, node, ins):
        self._check_nhwc(node)
        sizes, f, x = ins
        if sizes.const is None or f.const is None:
            raise ConvertError("output sizes and filter must be constants")
        n, oh, ow, cout = (int(s) for s in sizes.const)
        w = np.asarray(f.const, np.float32)  # [kh, kw, out, in]
        kh, kw = w.shape[:2]
        strides = (node.ints("strides") or [1, 1, 1, 1])[1:3]
        dilations = (node.ints("dilations") or [1, 1, 1, 1])[1:3]
        _, h, wd, _ = x.shape
        crop = []
        for size, out, k, s, d in ((h, oh, kh, strides[0], dilations[0]),
                                   (wd, ow, kw, strides[1], dilations[1])):
            full = (size - 1) * s + (k - 1) * d + 1
            if node.s("padding") == "SAME":
                before = max((size - 1) * s + (k - 1) * d + 1 - out, 0) // 2
            else:
                before = 0
            if before + out > full:
                raise ConvertError("output size %d needs output padding" % out)
            crop.append((before, full - before - out, full))
        symmetric = all(b == a for b, a, _ in crop)
        pads = [crop[0][0], crop[1][0], crop[0][1], crop[1][1]] if symmetric else [0, 0, 0, 0]
        y = self.b.node("ConvTranspose", [self.nchw(x), self.b.const(np.transpose(w, (3, 2, 0, 1)), "weight")],
                        kernel_shape=[kh, kw], strides=list(strides), dilations=list(dilations), pads=pads)
        if not symmetric:
            y = self.b.slice(y, [crop[0][0], crop[1][0]], [crop[0][0] + oh, crop[1][0] + ow], [2, 3])
        return self.out4(y, [n, oh, ow, cout])

    # ---- element-wise ---------------------------------------------------
    def _binary(self, node, a, c, op):
        folds = {"Add": np.add, "Sub": np.subtract, "Mul": np.multiply, "Div": np.divide,
                 "Max": np.maximum, "Min": np.minimum}
        if a.const is not None and c.const is not None:
            return _const(folds[op](a.const, c.const))
        shape = list(np.broadcast_shapes(tuple(a.shape), tuple(c.shape)))
        # x - k and x / k become x + (-k) and x * (1/k), the forms OpenCV fuses best.
        if c.const is not None and op in ("Sub", "Div"):
            k = np.asarray(c.const, np.float32)
            c, op = _const(-k if op == "Sub" else 1 / k), ("Add" if op == "Sub" else "Mul")
        act, k = (a, c) if a.const is None else (c, a)
        b = self.b
        if k.const is not None and act.layout in ("nchw", "rows") and shape == act.shape:
            kname = b.const(self.channel_const(k.const, act))
            ins = [act.name, kname] if act is a else [kname, act.name]
            return Value(b.node(op, ins), act.shape, act.layout, grid=act.grid)
        if (a.const is None and c.const is None and a.layout == c.layout == "nchw"
                and len(a.shape) == len(c.shape) == 4):
            return Value(b.node(op, [a.name, c.name]), shape, "nchw")
        if a.layout == c.layout == "rows" and a.shape == c.shape:
            return Value(b.node(op, [a.name, c.name]), shape, "rows", grid=a.grid)
        return Value(b.node(op, [self.plain(a), self.plain(c)]), shape)

    def op_Add(self, node, ins):
        return self._binary(node, ins[0], ins[1], "Add")

    op_AddV2 = op_Add

    def op_BiasAdd(self, node, ins):
        self._check_nhwc(node)
        return self._binary(node, ins[0], ins[1], "Add")

    def op_Sub(self, node, ins):
        return self._binary(node, ins[0], ins[1], "Sub")

    def op_Mul(self, node, ins):
        return self._binary(node, ins[0], ins[1], "Mul")

    def op_RealDiv(self, node, ins):
        return self._binary(node, ins[0], ins[1], "Div")

    def _bound(self, node, ins, upper):
        """Minimum/Maximum against a scalar constant: a Clip, merged with the
        Clip it may follow (clip_by_value writes both)."""
        a, c = ins
        x, k = (a, c) if c.const is not None else (c, a)
        if (x.const is not None or k.const is None or k.const.size != 1
                or k.const.ndim > len(x.shape) or x.layout not in ("nchw", "plain", "rows")):
            return self._binary(node, a, c, "Min" if upper else "Max")
        bound = np.float32(k.const.reshape(-1)[0])
        src, lo, hi = x.via if x.via else (x, np.finfo(np.float32).min, np.finfo(np.float32).max)
        lo, hi = (min(lo, bound), min(hi, bound)) if upper else (max(lo, bound), max(hi, bound))
        return Value(self.b.clip(src.name, lo, hi), x.shape, x.layout, grid=x.grid, via=(src, lo, hi))

    def op_Maximum(self, node, ins):
        return self._bound(node, ins, upper=False)

    def op_Minimum(self, node, ins):
        return self._bound(node, ins, upper=True)

    def op_Square(self, node, ins):
        x = ins[0]
        if x.const is not None:
            return _const(np.square(x.const))
        return Value(self.b.node("Mul", [x.name, x.name]), x.shape, x.layout, grid=x.grid)

    def op_AddN(self, node, ins):
        v = ins[0]
        for other in ins[1:]:
            v = self._binary(node, v, other, "Add")
        return v

    def _unary(self, node, ins, kind):
        x = ins[0]
        if x.const is not None:
            raise ConvertError("%s of a constant is not supported" % kind)
        channels = x.grid[3] if x.layout == "rows" else (x.shape[-1] if x.shape else 1)
        alpha = ins[1] if len(ins) > 1 else None
        if kind == "Prelu" and x.layout == "plain":
            y = self.b.node("PRelu", [x.name, self.b.const(np.asarray(alpha.const, np.float32))])
        else:
            y = self._activation(kind, x.name, channels, node, alpha)
        return Value(y, x.shape, x.layout, grid=x.grid)

    def op_Relu(self, node, ins):
        return self._unary(node, ins, "Relu")

    def op_Relu6(self, node, ins):
        return self._unary(node, ins, "Relu6")

    def op_Elu(self, node, ins):
        return self._unary(node, ins, "Elu")

    def op_LeakyRelu(self, node, ins):
        return self._unary(node, ins, "LeakyRelu")

    def op_Sigmoid(self, node, ins):
        return self._unary(node, ins, "Sigmoid")

    def op_Tanh(self, node, ins):
        return self._unary(node, ins, "Tanh")

    def op_Prelu(self, node, ins):
        return self._unary(node, ins, "Prelu")

    # ---- pooling and reductions -----------------------------------------
    def _pool(self, node, ins, op):
        self._check_nhwc(node)
        x = ins[0]
        k = node.ints("ksize")
        s = node.ints("strides") or [1, 1, 1, 1]
        if k[0] != 1 or k[3] != 1:
            raise ConvertError("pooling over batch or channels is not supported")
        pads, oh, ow = self._spatial(node, x, k[1], k[2], s[1:3], [1, 1])
        extra = {"count_include_pad": 0} if op == "AveragePool" else {}
        y = self.b.node(op, [self.nchw(x)], kernel_shape=k[1:3], strides=s[1:3], pads=pads, **extra)
        return self.out4(y, [x.shape[0], oh, ow, x.shape[3]])

    def op_MaxPool(self, node, ins):
        return self._pool(node, ins, "MaxPool")

    def op_AvgPool(self, node, ins):
        return self._pool(node, ins, "AveragePool")

    def op_Mean(self, node, ins):
        x, axes = ins
        if axes.const is None:
            raise ConvertError("reduction axes must be constant")
        rank = len(x.shape)
        ax = sorted({int(a) % rank for a in np.asarray(axes.const).reshape(-1)})
        keep = node.b("keep_dims")
        if x.layout == "nchw" and ax == [1, 2]:
            y = self.b.node("GlobalAveragePool", [x.name])
            n, _, _, c = x.shape
            if keep:
                return self.out4(y, [n, 1, 1, c])
            return Value(self.b.reshape(y, [n, c]), [n, c])
        shape = [1 if i in ax else s for i, s in enumerate(x.shape)]
        if x.layout == "nchw" and keep:
            y = self.b.node("ReduceMean", [x.name], axes=sorted(NHWC_TO_NCHW.index(a) for a in ax), keepdims=1)
            return self.out4(y, shape)
        y = self.b.node("ReduceMean", [self.plain(x)], axes=ax, keepdims=1 if keep else 0)
        return Value(y, shape if keep else [s for i, s in enumerate(x.shape) if i not in ax])

    # ---- shapes ---------------------------------------------------------
    def _pad(self, node, ins, mode):
        x, p = ins[0], ins[1]
        if p.const is None:
            raise ConvertError("paddings must be constant")
        p = np.asarray(p.const, np.int64).reshape(-1, 2)
        shape = [s + int(a) + int(b) for s, (a, b) in zip(x.shape, p)]
        inputs = [None, None]
        if x.layout == "nchw" and len(x.shape) == 4:
            p = p[NHWC_TO_NCHW]
            inputs[0], layout = x.name, "nchw"
        else:
            inputs[0], layout = self.plain(x), "plain"
        inputs[1] = self.b.const(np.concatenate([p[:, 0], p[:, 1]]), "pads")
        extra = {}
        if len(ins) > 2:
            if ins[2].const is None:
                raise ConvertError("the pad value must be constant")
            inputs.append(self.b.const(np.asarray(ins[2].const, np.float32).reshape(())))
        y = self.b.node("Pad", inputs, mode=mode, **extra)
        return Value(y, shape, layout)

    def op_Pad(self, node, ins):
        return self._pad(node, ins, "constant")

    op_PadV2 = op_Pad

    def op_MirrorPad(self, node, ins):
        if node.s("mode") != "REFLECT":
            raise ConvertError("mirror padding %s is not supported" % node.s("mode"))
        return self._pad(node, ins, "reflect")

    def op_ConcatV2(self, node, ins):
        parts, axis = ins[:-1], ins[-1]
        if axis.const is None:
            raise ConvertError("the concatenation axis must be constant")
        rank = len(parts[0].shape)
        a = int(np.asarray(axis.const).reshape(-1)[0]) % rank
        shape = list(parts[0].shape)
        shape[a] = sum(p.shape[a] for p in parts)
        whole = parts[0].part[0] if parts[0].part else None
        if whole is not None and whole.shape == shape and all(
                p.part and p.part[0] is whole and p.part[1] == a and p.part[2] == sum(q.shape[a] for q in parts[:i])
                for i, p in enumerate(parts)):
            return whole  # the pieces of a Split put back together
        if all(p.const is not None for p in parts):
            return _const(np.concatenate([p.const for p in parts], axis=a))
        if rank == 4 and all(p.layout == "nchw" or p.const is not None for p in parts):
            y = self.b.node("Concat", [self.nchw(p) for p in parts], axis=NHWC_TO_NCHW.index(a))
            return self.out4(y, shape)
        return Value(self.b.node("Concat", [self.plain(p) for p in parts], axis=a), shape)

    def _split(self, x, axis, sizes):
        rank = len(x.shape)
        a = axis % rank
        if sizes.count(-1) == 1:
            sizes[sizes.index(-1)] = x.shape[a] - (sum(sizes) + 1)
        if sum(sizes) != x.shape[a] or min(sizes) < 0:
            raise ConvertError("can't split %d into %s" % (x.shape[a], sizes))
        starts = np.cumsum([0] + sizes).tolist()
        if x.const is not None:
            return [_const(p) for p in np.split(x.const, starts[1:-1], axis=a)]
        if x.layout == "nchw":
            src, onnx_axis, layout = x.name, NHWC_TO_NCHW.index(a), "nchw"
        else:
            src, onnx_axis, layout = self.plain(x), a, "plain"
        outs = self.b.node("Split", [src], outputs=len(sizes), axis=onnx_axis, split=sizes)
        outs = outs if len(sizes) > 1 else [outs]
        shapes = [x.shape[:a] + [n] + x.shape[a + 1:] for n in sizes]
        return [Value(o, sh, layout, part=(x, a, starts[i], starts[i + 1]))
                for i, (o, sh) in enumerate(zip(outs, shapes))]

    def op_Split(self, node, ins):
        axis, x = ins
        if axis.const is None:
            raise ConvertError("the split axis must be constant")
        n = node.i("num_split")
        a = int(axis.const.reshape(-1)[0])
        if not n or x.shape[a] % n:
            raise ConvertError("can't split %d into %s parts" % (x.shape[a], n))
        return self._split(x, a, [x.shape[a] // n] * n)

    def op_SplitV(self, node, ins):
        x, sizes, axis = ins
        if sizes.const is None or axis.const is None:
            raise ConvertError("split sizes and axis must be constant")
        return self._split(x, int(axis.const.reshape(-1)[0]), [int(s) for s in sizes.const.reshape(-1)])

    def op_Slice(self, node, ins):
        x, begin, size = ins
        if begin.const is None or size.const is None:
            raise ConvertError("slice begin and size must be constant")
        begin = [int(b) for b in begin.const.reshape(-1)]
        end = [d if s == -1 else b + int(s) for b, s, d in zip(begin, size.const.reshape(-1), x.shape)]
        if x.const is not None:
            return _const(x.const[tuple(slice(b, e) for b, e in zip(begin, end))])
        axes = [i for i, (b, e, d) in enumerate(zip(begin, end, x.shape)) if b != 0 or e != d]
        if not axes:
            return x
        shape = [e - b for b, e in zip(begin, end)]
        if x.layout == "nchw":
            y = self.b.slice(x.name, [begin[i] for i in axes], [end[i] for i in axes],
                             [NHWC_TO_NCHW.index(i) for i in axes])
            return self.out4(y, shape)
        return Value(self.b.slice(self.plain(x), [begin[i] for i in axes], [end[i] for i in axes], axes), shape)

    def op_Reshape(self, node, ins):
        x, t = ins
        if t.const is None:
            raise ConvertError("the target shape must be constant")
        target = [int(s) for s in np.asarray(t.const).reshape(-1)]
        size = int(np.prod(x.shape))
        if target.count(-1) > 1:
            raise ConvertError("target shape %s" % target)
        if -1 in target:
            known = int(np.prod([s for s in target if s != -1]))
            target[target.index(-1)] = size // known if known else 0
        if int(np.prod(target)) != size:
            raise ConvertError("can't reshape %s to %s" % (x.shape, target))
        if x.const is not None:
            return _const(np.reshape(x.const, target))
        if target == x.shape:
            return x
        grid = x.grid if x.layout == "rows" else (x.shape if x.layout == "nchw" else None)
        if grid is not None:
            n, h, w, c = grid
            if target == [n * h * w, c]:  # the channels as rows: stays channels-first
                return Value(x.name, target, "rows", grid=grid)
            if target == [n, h, w, c]:
                return self.out4(x.name, target)
            if h == 1 and w == 1:  # same element order in both layouts
                y = self.b.reshape(x.name, target if len(target) != 4 else
                                   [target[0], target[3], target[1], target[2]])
                return Value(y, target, "nchw" if len(target) == 4 else "plain")
        return Value(self.b.reshape(self.plain(x), target), target)

    def op_MatMul(self, node, ins):
        a, m = ins
        if node.b("transpose_a") or m.const is None:
            raise ConvertError("only products with a constant right-hand matrix are supported")
        k = np.asarray(m.const, np.float32)
        if node.b("transpose_b"):
            k = k.T
        if a.layout == "rows":
            n, h, w, _ = a.grid
            y = self.b.node("Conv", [a.name, self.b.const(k.T.reshape(k.shape[1], k.shape[0], 1, 1), "weight")],
                            kernel_shape=[1, 1])
            return Value(y, [a.shape[0], k.shape[1]], "rows", grid=[n, h, w, k.shape[1]])
        y = self.b.node("MatMul", [self.plain(a), self.b.const(k, "matrix")])
        return Value(y, [a.shape[0], k.shape[1]])

    def _resize(self, node, ins, linear):
        x, size = ins
        if size.const is None:
            raise ConvertError("the output size must be constant")
        oh, ow = (int(s) for s in np.asarray(size.const).reshape(-1))
        n, _, _, c = x.shape
        if node.b("align_corners"):
            mode = "align_corners"
        elif node.b("half_pixel_centers"):
            mode = "half_pixel" if linear else "tf_half_pixel_for_nn"
        else:
            mode = "asymmetric"
        b = self.b
        y = b.node("Resize", [self.nchw(x), b.const(np.zeros(0, np.float32), "roi"),
                              b.const(np.zeros(0, np.float32), "scales"),
                              b.const(np.array([n, c, oh, ow], np.int64), "sizes")],
                   mode="linear" if linear else "nearest", coordinate_transformation_mode=mode,
                   nearest_mode=None if linear else ("round_prefer_ceil" if mode == "align_corners" else "floor"))
        return self.out4(y, [n, oh, ow, c])

    def op_ResizeBilinear(self, node, ins):
        return self._resize(node, ins, linear=True)

    def op_ResizeNearestNeighbor(self, node, ins):
        return self._resize(node, ins, linear=False)

    def op_DepthToSpace(self, node, ins):
        self._check_nhwc(node)
        x = ins[0]
        bs = node.i("block_size")
        n, h, w, c = x.shape
        if c % (bs * bs):
            raise ConvertError("%d channels for block size %d" % (c, bs))
        y = self.b.node("DepthToSpace", [self.nchw(x)], blocksize=bs, mode="DCR")
        return self.out4(y, [n, h * bs, w * bs, c // (bs * bs)])


def default_outputs(model):
    sig = model.signature.get("outputs")
    if sig:
        return [o["name"] for o in sig.values()]
    used = {i.partition(":")[0] for n in model.nodes.values() for i in n.inputs}
    return [n.name for n in model.nodes.values() if n.name not in used and n.op != "Const"]


def parse_outputs(text, model):
    refs = text.split(",") if text else default_outputs(model)
    out = []
    for r in refs:
        ref, _, rename = r.strip().partition("=")
        base, _, idx = ref.partition(":")
        out.append((ref, rename or (base if idx in ("", "0") else "%s_%s" % (base, idx))))
    return out


def _named(items, parse):
    """["name=1,2", "3,4"] -> {"name": parse("1,2"), None: parse("3,4")}."""
    out = {}
    for item in items or []:
        name, _, text = item.rpartition("=")
        out[name or None] = parse([t for t in text.split(",") if t.strip()])
    return out


def convert(model_path, out_path, outputs=None, input_shapes=None, nhwc_outputs=False, constants=None):
    model = tfjs_model.load(model_path)
    c = Converter(model, input_shapes, constants)
    builder = c.convert(parse_outputs(outputs, model), nhwc_outputs)
    m = builder.model(doc="converted from %s" % os.path.basename(model_path))
    if narrow_channels(m):
        tidy(m)
    save_model(m, out_path)


def main(argv=None):
    p = argparse.ArgumentParser(description="TensorFlow.js graph model to standard ONNX")
    p.add_argument("model")
    p.add_argument("out")
    p.add_argument("--outputs")
    p.add_argument("--input-shape", action="append")
    p.add_argument("--constant", action="append")
    p.add_argument("--nhwc-outputs", action="store_true")
    a = p.parse_args(argv)
    try:
        shapes = _named(a.input_shape, lambda t: [int(s) for s in t])
        constants = _named(a.constant, lambda t: np.array([float(s) for s in t], np.float32).reshape(
            () if len(t) == 1 else (len(t),)))
        if None in constants:
            raise ValueError("--constant needs NAME=VALUE")
        convert(a.model, a.out, a.outputs, shapes, a.nhwc_outputs, constants)
    except ValueError as e:
        print("tfjs2onnx: %s" % e, file=sys.stderr)
        return 1
    except ConvertError as e:
        print("tfjs2onnx: %s: %s" % (a.model, e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
