"""Helpers for writing ONNX models that OpenCV 4.6's DNN module loads.

Shared by the project's converters (TFJS graph models, TFLite, float16 ONNX).
OpenCV 4.6 wants: float32 initialisers only, every graph input and output
with a shape, Clip in its attribute form (the min/max-input form fails to
load), constant operands stored as initialisers, and plain output names.

    b = GraphBuilder("mesh")
    x = b.input("input", [1, 3, 192, 192])
    y = b.node("Conv", [x, b.const(w), b.const(bias)], pads=[1, 1, 1, 1])
    b.output(y, "mesh", [1, 16, 192, 192])
    b.save("out.onnx")
"""

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

# Opset 11 has the Resize, Pad and Slice forms OpenCV 4.6 reads; Clip stays in
# its older attribute form because that is the one OpenCV accepts.
OPSET = 11

# Moves a channels-last 4D tensor to channels-first and back.
NHWC_TO_NCHW = [0, 3, 1, 2]
NCHW_TO_NHWC = [0, 2, 3, 1]


class ConvertError(Exception):
    """A model that cannot be converted; the message says why."""


class GraphBuilder:
    def __init__(self, name):
        self.name = name
        self.nodes = []
        self.initializers = []
        self.inputs = []
        self.outputs = []
        self._used = set()
        self._const_cache = {}

    def unique(self, base):
        base = base.replace(":", "_") or "t"
        name, i = base, 1
        while name in self._used:
            i += 1
            name = "%s_%d" % (base, i)
        self._used.add(name)
        return name

    def input(self, name, shape, dtype=TensorProto.FLOAT):
        self._used.add(name)
        self.inputs.append(helper.make_tensor_value_info(name, dtype, list(shape)))
        return name

    def const(self, array, name="const"):
        """An initialiser; float arrays are stored as float32, integers as int64.
        Equal constants are stored once."""
        a = np.asarray(array)
        if a.dtype.kind == "f":
            a = a.astype(np.float32)
        elif a.dtype.kind in "iub":
            a = a.astype(np.int64)
        else:
            raise ConvertError("constant %s has unsupported type %s" % (name, a.dtype))
        key = (a.dtype.str, a.shape, a.tobytes())
        if key in self._const_cache:
            return self._const_cache[key]
        tname = self.unique(name)
        self.initializers.append(numpy_helper.from_array(np.ascontiguousarray(a), tname))
        self._const_cache[key] = tname
        return tname

    def node(self, op, inputs, name=None, outputs=1, **attrs):
        """Adds a node; returns its output name (or a list when outputs > 1)."""
        base = self.unique(name or op)
        outs = [base] + [self.unique(base + "_out%d" % i) for i in range(1, outputs)]
        attrs = {k: v for k, v in attrs.items() if v is not None}
        self.nodes.append(helper.make_node(op, list(inputs), outs, name=base, **attrs))
        return outs[0] if outputs == 1 else outs

    # Forms OpenCV 4.6 is known to read.
    def clip(self, x, lo, hi, name=None):
        return self.node("Clip", [x], name=name, min=float(lo), max=float(hi))

    def transpose(self, x, perm, name=None):
        return self.node("Transpose", [x], name=name, perm=list(perm))

    def reshape(self, x, shape, name=None):
        return self.node("Reshape", [x, self.const(np.array(shape, np.int64), "shape")], name=name)

    def slice(self, x, starts, ends, axes, name=None):
        return self.node("Slice", [x, self.const(np.array(starts, np.int64), "starts"),
                                   self.const(np.array(ends, np.int64), "ends"),
                                   self.const(np.array(axes, np.int64), "axes")], name=name)

    def output(self, tensor, name, shape, dtype=TensorProto.FLOAT):
        """Declares a graph output called `name`: the tensor that gives it is
        renamed (or copied through an Identity when it is a graph input or
        already an output)."""
        if tensor != name:
            if name in self._used:
                self._rename(name, self.unique(name + "_inner"))
            if tensor in {i.name for i in self.inputs} | {o.name for o in self.outputs}:
                self.nodes.append(helper.make_node("Identity", [tensor], [name], name=name))
                self._used.add(name)
            else:
                self._rename(tensor, name)
        self.outputs.append(helper.make_tensor_value_info(name, dtype, list(shape)))
        return name

    def _rename(self, old, new):
        for n in self.nodes:
            for seq in (n.input, n.output):
                for i, v in enumerate(seq):
                    if v == old:
                        seq[i] = new
        for t in self.initializers:
            if t.name == old:
                t.name = new
        self._used.add(new)

    def model(self, doc=""):
        graph = helper.make_graph(self.nodes, self.name, self.inputs, self.outputs, self.initializers)
        m = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="kestrel", doc_string=doc)
        m.ir_version = 7
        return m

    def save(self, path, doc=""):
        save_model(self.model(doc), path)


def save_model(model, path):
    """Writes the model to a temporary file then moves it into place, so a
    failed conversion never leaves a half-written model behind."""
    import os
    tmp = path + ".part"
    with open(tmp, "wb") as f:
        f.write(model.SerializeToString())
    os.replace(tmp, path)

