#!/usr/bin/env python3
"""Converts a float TFLite model to a standard float32 ONNX model (opset 11).

    tflite2onnx.py MODEL.tflite OUT.onnx

The TFLite file is read directly (tflite_reader.py); no TFLite runtime is
needed. Activations with four dimensions become NCHW, so a [1,H,W,3] input is
fed as a [1,3,H,W] blob; outputs keep TFLite's shapes and names. Float16
weights behind DEQUANTIZE are widened to float32. TF's SAME padding is written
as explicit (possibly uneven) pads. Clip takes its bounds as inputs, as opset
11 has it (onnx_build.opencv_view gives OpenCV 4.6 the attribute form).
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from onnx_build import NCHW_TO_NHWC, NHWC_TO_NCHW, ConvertError, GraphBuilder, save_model  # noqa: E402
from tflite_reader import Model  # noqa: E402

# TFLite's NHWC axes as NCHW axes.
AXIS_NCHW = {0: 0, 1: 2, 2: 3, 3: 1}


def same_pads(size, kernel, stride, dilation=1):
    """TF's SAME padding along one axis: (before, after); the odd pixel goes after."""
    out = -(-size // stride)
    total = max((out - 1) * stride + (kernel - 1) * dilation + 1 - size, 0)
    return total // 2, total - total // 2


class Converter:
    def __init__(self, model):
        self.m = model
        self.b = GraphBuilder("tflite")
        self.names = {}     # tensor index -> ONNX value name
        self.consts = {}    # tensor index -> numpy value (float32 or int)
        self.nchw = set()   # tensor indices held as NCHW in the ONNX graph
        for t in model.tensors:
            if t.data is not None:
                self.consts[t.index] = t.data.astype(np.float32) if t.dtype == np.float16 else t.data

    # -- helpers ------------------------------------------------------------
    def node(self, op, inputs, i=None, **attrs):
        """Adds a node; with a tensor index, its output is named after that tensor."""
        name = self.tensor(i).name.replace("/", "_") if i is not None else None
        return self.b.node(op, inputs, name=name, **attrs)

    def initializer(self, value, hint):
        return self.b.const(value, hint)

    def tensor(self, i):
        return self.m.tensors[i]

    def const(self, i):
        if i not in self.consts:
            raise ConvertError("tensor %s must be a constant" % self.tensor(i).name)
        return self.consts[i]

    def value(self, i):
        """The ONNX name of tensor i; constants become initialisers in the graph's layout."""
        if i in self.names:
            return self.names[i]
        if i in self.consts:
            v = self.consts[i].astype(np.float32)
            name = self.initializer(v, "const")
            self.names[i] = name
            return name
        raise ConvertError("tensor %s is used before it is made" % self.tensor(i).name)

    def as_nhwc(self, i):
        """Tensor i in TFLite's own layout."""
        name = self.value(i)
        if i in self.nchw:
            return self.b.transpose(name, NCHW_TO_NHWC)
        return name

    def activation(self, src, fused, i):
        """Applies a fused activation and binds the result to tensor i."""
        if fused == 0:
            self.names[i] = src
            return
        if fused == 1:
            out = self.node("Relu", [src], i)
        elif fused == 3:
            out = self.b.clip(src, 0.0, 6.0, name=self.tensor(i).name.replace("/", "_"))
        elif fused == 4:
            out = self.node("Tanh", [src], i)
        else:
            raise ConvertError("fused activation %d is not supported" % fused)
        self.names[i] = out

    def broadcast_const(self, value, other_nchw):
        """A constant operand of an elementwise op, laid out like the other operand."""
        v = value.astype(np.float32)
        if other_nchw and v.ndim > 0 and v.size > 1:
            v = v.reshape((1,) * (4 - v.ndim) + v.shape).transpose(NHWC_TO_NCHW)
        return v

    # -- ops ----------------------------------------------------------------
    def op_DEQUANTIZE(self, o):
        src = o.inputs[0]
        if src not in self.consts:
            raise ConvertError("DEQUANTIZE of a computed tensor is not supported")
        self.consts[o.outputs[0]] = self.consts[src].astype(np.float32)

    def conv_common(self, o, weights, group, opts_padding, sw, sh, dw, dh, fused, inp_shape):
        kh, kw = weights.shape[2], weights.shape[3]
        if opts_padding == 0:
            top, bottom = same_pads(inp_shape[1], kh, sh, dh)
            left, right = same_pads(inp_shape[2], kw, sw, dw)
        else:
            top = bottom = left = right = 0
        ins = [self.value(o.inputs[0]), self.initializer(weights, "weights")]
        if len(o.inputs) > 2 and o.inputs[2] >= 0:
            ins.append(self.initializer(self.const(o.inputs[2]).astype(np.float32), "bias"))
        out = self.node("Conv", ins, o.outputs[0], kernel_shape=[kh, kw], strides=[sh, sw],
                        dilations=[dh, dw], pads=[top, left, bottom, right], group=group)
        self.nchw.add(o.outputs[0])
        self.activation(out, fused, o.outputs[0])

    def op_CONV_2D(self, o):
        p = o.options
        w = self.const(o.inputs[1]).astype(np.float32).transpose(0, 3, 1, 2)  # OHWI -> OIHW
        self.conv_common(o, w, 1, p.scalar(0, "b"), p.scalar(1, "i", 1), p.scalar(2, "i", 1),
                         p.scalar(4, "i", 1), p.scalar(5, "i", 1), p.scalar(3, "b"),
                         self.tensor(o.inputs[0]).shape)

    def op_DEPTHWISE_CONV_2D(self, o):
        p = o.options
        w = self.const(o.inputs[1]).astype(np.float32)  # [1, H, W, C*M]
        channels = self.tensor(o.inputs[0]).shape[3]
        w = w.transpose(3, 0, 1, 2)  # [C*M, 1, H, W]
        self.conv_common(o, w, channels, p.scalar(0, "b"), p.scalar(1, "i", 1), p.scalar(2, "i", 1),
                         p.scalar(5, "i", 1), p.scalar(6, "i", 1), p.scalar(4, "b"),
                         self.tensor(o.inputs[0]).shape)

    def pool(self, o, onnx_op):
        p = o.options
        pad, sw, sh, fw, fh, fused = (p.scalar(0, "b"), p.scalar(1, "i", 1), p.scalar(2, "i", 1),
                                      p.scalar(3, "i", 1), p.scalar(4, "i", 1), p.scalar(5, "b"))
        shape = self.tensor(o.inputs[0]).shape
        if pad == 0:
            top, bottom = same_pads(shape[1], fh, sh)
            left, right = same_pads(shape[2], fw, sw)
        else:
            top = bottom = left = right = 0
        attrs = dict(kernel_shape=[fh, fw], strides=[sh, sw], pads=[top, left, bottom, right])
        if onnx_op == "AveragePool":
            attrs["count_include_pad"] = 0
        out = self.node(onnx_op, [self.value(o.inputs[0])], o.outputs[0], **attrs)
        self.nchw.add(o.outputs[0])
        self.activation(out, fused, o.outputs[0])

    def op_MAX_POOL_2D(self, o):
        self.pool(o, "MaxPool")

    def op_AVERAGE_POOL_2D(self, o):
        self.pool(o, "AveragePool")

    def elementwise(self, o, onnx_op, fused):
        a, b = o.inputs[0], o.inputs[1]
        if a in self.consts and b in self.consts:
            raise ConvertError("%s of two constants is not supported" % onnx_op)
        live = b if a in self.consts else a
        live_nchw = live in self.nchw
        other = a if live == b else b
        if other not in self.consts and (other in self.nchw) != live_nchw:
            raise ConvertError("%s of tensors in different layouts" % onnx_op)
        names = []
        for i in (a, b):
            if i in self.consts:
                names.append(self.initializer(self.broadcast_const(self.consts[i], live_nchw), "operand"))
            else:
                names.append(self.value(i))
        out = self.node(onnx_op, names, o.outputs[0])
        if live_nchw:
            self.nchw.add(o.outputs[0])
        self.activation(out, fused, o.outputs[0])

    def op_ADD(self, o):
        self.elementwise(o, "Add", o.options.scalar(0, "b") if o.options else 0)

    def op_SUB(self, o):
        self.elementwise(o, "Sub", o.options.scalar(0, "b") if o.options else 0)

    def op_MUL(self, o):
        self.elementwise(o, "Mul", o.options.scalar(0, "b") if o.options else 0)

    def op_PRELU(self, o):
        x = o.inputs[0]
        alpha = self.const(o.inputs[1]).astype(np.float32)
        if x in self.nchw:
            alpha = alpha.reshape(-1, 1, 1) if alpha.size > 1 else alpha.reshape(1)
        out = self.node("PRelu", [self.value(x), self.initializer(alpha, "slope")], o.outputs[0])
        if x in self.nchw:
            self.nchw.add(o.outputs[0])
        self.names[o.outputs[0]] = out

    def unary(self, o, onnx_op, **attrs):
        x = o.inputs[0]
        out = self.node(onnx_op, [self.value(x)], o.outputs[0], **attrs)
        if x in self.nchw:
            self.nchw.add(o.outputs[0])
        self.names[o.outputs[0]] = out

    def op_LOGISTIC(self, o):
        self.unary(o, "Sigmoid")

    def op_RELU(self, o):
        self.unary(o, "Relu")

    def op_RELU6(self, o):
        x = o.inputs[0]
        self.names[o.outputs[0]] = self.b.clip(self.value(x), 0.0, 6.0,
                                               name=self.tensor(o.outputs[0]).name.replace("/", "_"))
        if x in self.nchw:
            self.nchw.add(o.outputs[0])

    def op_TANH(self, o):
        self.unary(o, "Tanh")

    def op_PAD(self, o):
        x = o.inputs[0]
        pads = self.const(o.inputs[1]).astype(np.int64)  # [rank, 2] before/after
        if x in self.nchw:
            pads = pads[list(NHWC_TO_NCHW)]
        value = 0.0
        if len(o.inputs) > 2:
            value = float(self.const(o.inputs[2]).reshape(-1)[0])
        out = self.node("Pad", [self.value(x), self.initializer(np.concatenate([pads[:, 0], pads[:, 1]]), "pads"),
                                self.initializer(np.array(value, np.float32), "pad_value")],
                        o.outputs[0], mode="constant")
        if x in self.nchw:
            self.nchw.add(o.outputs[0])
        self.names[o.outputs[0]] = out

    op_PADV2 = op_PAD

    def op_RESIZE_BILINEAR(self, o):
        x = o.inputs[0]
        if x not in self.nchw:
            raise ConvertError("RESIZE_BILINEAR needs a four-dimensional input")
        size = self.const(o.inputs[1]).astype(np.int64)
        shape = self.tensor(x).shape
        align = o.options.scalar(2, "b") if o.options else 0
        half = o.options.scalar(3, "b") if o.options else 0
        mode = "align_corners" if align else ("half_pixel" if half else "asymmetric")
        scales = np.array([1, 1, size[0] / shape[1], size[1] / shape[2]], np.float32)
        out = self.node("Resize", [self.value(x), self.initializer(np.zeros(0, np.float32), "roi"),
                                   self.initializer(scales, "scales")],
                        o.outputs[0], mode="linear", coordinate_transformation_mode=mode)
        self.nchw.add(o.outputs[0])
        self.names[o.outputs[0]] = out

    def op_RESHAPE(self, o):
        x = o.inputs[0]
        target = [int(v) for v in self.tensor(o.outputs[0]).shape]
        out = self.node("Reshape", [self.as_nhwc(x), self.initializer(np.array(target, np.int64), "shape")],
                        o.outputs[0])
        self.bind_tflite_layout(out, o.outputs[0])

    op_SQUEEZE = op_RESHAPE

    def bind_tflite_layout(self, name, i):
        """Binds a value in TFLite's layout to tensor i, turning 4-D values to NCHW."""
        if len(self.tensor(i).shape) == 4:
            out = self.node("Transpose", [name], i, perm=list(NHWC_TO_NCHW))
            self.nchw.add(i)
            self.names[i] = out
        else:
            self.names[i] = name

    def op_CONCATENATION(self, o):
        p = o.options
        axis = p.scalar(0, "i")
        rank = len(self.tensor(o.outputs[0]).shape)
        if axis < 0:
            axis += rank
        layouts = {i in self.nchw for i in o.inputs}
        if len(layouts) != 1:
            raise ConvertError("CONCATENATION of tensors in different layouts")
        nchw = layouts.pop()
        out = self.node("Concat", [self.value(i) for i in o.inputs], o.outputs[0], axis=AXIS_NCHW[axis] if nchw else axis)
        if nchw:
            self.nchw.add(o.outputs[0])
        self.activation(out, p.scalar(1, "b"), o.outputs[0])

    def op_MEAN(self, o):
        x = o.inputs[0]
        axes = sorted(int(a) % 4 for a in self.const(o.inputs[1]).reshape(-1))
        keep = o.options.scalar(0, "b") if o.options else 0
        if x not in self.nchw or axes != [1, 2]:
            raise ConvertError("MEAN is supported over the spatial axes of an image only")
        pooled = self.b.node("GlobalAveragePool", [self.value(x)])
        if keep:
            self.nchw.add(o.outputs[0])
            self.names[o.outputs[0]] = pooled
        else:
            out = self.node("Flatten", [pooled], o.outputs[0], axis=1)
            self.names[o.outputs[0]] = out

    def op_FULLY_CONNECTED(self, o):
        x = o.inputs[0]
        src = self.as_nhwc(x)
        flat = self.b.node("Flatten", [src], axis=1)
        w = self.const(o.inputs[1]).astype(np.float32)  # [out, in]
        ins = [flat, self.initializer(w, "fc_weights")]
        if len(o.inputs) > 2 and o.inputs[2] >= 0:
            ins.append(self.initializer(self.const(o.inputs[2]).astype(np.float32), "fc_bias"))
        out = self.node("Gemm", ins, o.outputs[0], transB=1)
        self.activation(out, o.options.scalar(0, "b") if o.options else 0, o.outputs[0])

    # -- whole graph --------------------------------------------------------
    def convert(self):
        for i in self.m.inputs:
            t = self.tensor(i)
            shape = list(t.shape)
            if len(shape) == 4:
                shape = [shape[0], shape[3], shape[1], shape[2]]
                self.nchw.add(i)
            self.names[i] = self.b.input(t.name, shape)
        for o in self.m.operators:
            handler = getattr(self, "op_" + o.opcode, None)
            if handler is None:
                raise ConvertError("operator %s is not supported" % o.opcode)
            handler(o)
        for i in self.m.outputs:
            t = self.tensor(i)
            self.b.output(self.as_nhwc(i), t.name, list(t.shape))
        return self.b.model()


def convert(data):
    """TFLite bytes -> onnx.ModelProto."""
    return Converter(Model(data)).convert()


def main(argv):
    if len(argv) != 3:
        print("usage: tflite2onnx.py MODEL.tflite OUT.onnx", file=sys.stderr)
        return 2
    try:
        with open(argv[1], "rb") as f:
            model = convert(f.read())
        save_model(model, argv[2])
    except (OSError, ValueError, ConvertError) as e:
        print("tflite2onnx: %s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
