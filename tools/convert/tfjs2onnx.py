#!/usr/bin/env python3
"""Converts a TensorFlow.js graph model to a float32 ONNX model for OpenCV 4.6.

    python3 tools/convert/tfjs2onnx.py MODEL.json OUT.onnx [options]

Options:
  --outputs A,B=name,...   the tensors to export (TF names such as Identity_2
                           or Identity_2:0; `=name` renames the ONNX output).
                           Default: the signature's outputs, else every node
                           nothing else consumes. Only what they need is kept.
  --input-shape 1,H,W,C    the input's TF (channels-last) shape, for models
                           whose placeholder leaves sizes open (batch -1 is 1).
  --nhwc-outputs           give 4D outputs channels-last as TensorFlow does
                           (default: channels-first, as OpenCV computes them).

The input becomes channels-first: a 1xHxWxC placeholder is the ONNX input
1xCxHxW named after the placeholder (what cv::dnn::blobFromImage gives).
Weight shards may be float32 or quantised (float16, uint8, uint16).

Ops: Conv2D, DepthwiseConv2dNative, _FusedConv2D and FusedDepthwiseConv2dNative
(BiasAdd or FusedBatchNorm, then Relu, Relu6, Elu, LeakyRelu, Prelu, Sigmoid
or Tanh), Conv2DBackpropInput, BiasAdd, Add, AddV2, AddN, Sub, Mul, RealDiv,
Maximum, Minimum, Relu, Relu6, Elu, LeakyRelu, Prelu, Sigmoid, Tanh, MaxPool,
AvgPool, Mean, Pad, PadV2, MirrorPad (reflect), ConcatV2, Reshape, MatMul,
ResizeBilinear, ResizeNearestNeighbor, DepthToSpace, Identity, Cast (float).
Reshape-MatMul-Reshape groups over the channels of a 4D tensor become 1x1
convolutions. Constant subgraphs are folded.

On failure it prints one line ("tfjs2onnx: ...") on standard error, exits
with status 1 and leaves no output file.
"""

import argparse
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from onnx_build import NCHW_TO_NHWC, NHWC_TO_NCHW, ConvertError, GraphBuilder  # noqa: E402
import tfjs_model  # noqa: E402


class Value:
    """A converted tensor. `shape` is TensorFlow's (channels-last) shape.

    layout: "nchw"  a 4D tensor stored channels-first;
            "plain" stored exactly as TensorFlow has it;
            "rows"  TensorFlow's 2D [N*H*W, C] view of a 4D tensor that is
                    stored channels-first with grid [N, H, W, C].
    A constant has `const` set and no ONNX tensor until one is needed."""

    def __init__(self, name, shape, layout="plain", const=None, grid=None):
        self.name = name
        self.shape = [int(s) for s in shape]
        self.layout = layout
        self.const = const
        self.grid = grid


def _const(a):
    a = np.asarray(a)
    return Value(None, a.shape, const=a)


class Converter:
    def __init__(self, model, input_shape=None):
        self.model = model
        self.b = GraphBuilder("tfjs")
        self.input_shape = input_shape
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
        if idx and idx != "0":
            raise ConvertError("output %s of %s is not supported" % (idx, name))
        if name not in self.values:
            raise ConvertError("tensor %s is used before it is made" % name)
        return self.values[name]

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
            try:
                v = handler(node, ins)
            except ConvertError as e:
                raise ConvertError("%s (node %s, op %s)" % (e, node.name, node.op))
            self.values[name] = v
        for ref, onnx_name in outputs:
            v = self.value(ref)
            if v.const is not None:
                raise ConvertError("output %s is a constant" % ref)
            if v.layout == "nchw" and not nhwc_outputs:
                n, h, w, c = v.shape
                self.b.output(v.name, onnx_name, [n, c, h, w])
            else:
                self.b.output(self.plain(v), onnx_name, v.shape)
        return self.b

    # ---- sources --------------------------------------------------------
    def op_Placeholder(self, node, ins):
        shape = self.input_shape or node.shape() or []
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
        dst = node.attr.get("DstT", {}).get("type")
        if dst != "DT_FLOAT":
            raise ConvertError("only casts to float are supported")
        if ins[0].const is not None:
            return _const(ins[0].const.astype(np.float32))
        return ins[0]

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

    def _conv(self, node, ins, depthwise, fused):
        self._check_nhwc(node)
        x, f = ins[0], ins[1]
        if f.const is None:
            raise ConvertError("the filter must be a constant")
        w = np.asarray(f.const, np.float32)
        kh, kw = w.shape[:2]
        strides = (node.ints("strides") or [1, 1, 1, 1])[1:3]
        dilations = (node.ints("dilations") or [1, 1, 1, 1])[1:3]
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
        y = self.b.node("Conv", inputs, kernel_shape=[kh, kw], strides=list(strides),
                        dilations=list(dilations), pads=pads, group=group)
        if activation:
            y = self._activation(activation[0], y, cout, node, extra[0] if extra else None)
        return self.out4(y, [n, oh, ow, cout])

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

    def op_Maximum(self, node, ins):
        return self._binary(node, ins[0], ins[1], "Max")

    def op_Minimum(self, node, ins):
        return self._binary(node, ins[0], ins[1], "Min")

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
        if all(p.const is not None for p in parts):
            return _const(np.concatenate([p.const for p in parts], axis=a))
        if rank == 4 and all(p.layout == "nchw" or p.const is not None for p in parts):
            y = self.b.node("Concat", [self.nchw(p) for p in parts], axis=NHWC_TO_NCHW.index(a))
            return self.out4(y, shape)
        return Value(self.b.node("Concat", [self.plain(p) for p in parts], axis=a), shape)

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


def convert(model_path, out_path, outputs=None, input_shape=None, nhwc_outputs=False):
    model = tfjs_model.load(model_path)
    c = Converter(model, input_shape)
    builder = c.convert(parse_outputs(outputs, model), nhwc_outputs)
    builder.save(out_path, doc="converted from %s" % os.path.basename(model_path))


def main(argv=None):
    p = argparse.ArgumentParser(description="TensorFlow.js graph model to ONNX for OpenCV 4.6")
    p.add_argument("model")
    p.add_argument("out")
    p.add_argument("--outputs")
    p.add_argument("--input-shape")
    p.add_argument("--nhwc-outputs", action="store_true")
    a = p.parse_args(argv)
    try:
        shape = [int(s) for s in a.input_shape.split(",")] if a.input_shape else None
        convert(a.model, a.out, a.outputs, shape, a.nhwc_outputs)
    except ValueError as e:
        print("tfjs2onnx: %s" % e, file=sys.stderr)
        return 1
    except ConvertError as e:
        print("tfjs2onnx: %s: %s" % (a.model, e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
