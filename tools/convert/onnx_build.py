"""Helpers for writing standard ONNX models (opset 11, float32).

Shared by the project's converters (TFJS graph models, TFLite, float16 ONNX).
What they write passes onnx.checker and keeps to forms OpenCV 4.6's DNN
module reads too: float32 initialisers only, every graph input and output
with a shape, constant operands stored as initialisers, plain output names.
One exception: opset 11 gives Clip its bounds as inputs, which OpenCV 4.6
refuses; opencv_view() rewrites them into the older attribute form for it.

    b = GraphBuilder("mesh")
    x = b.input("input", [1, 3, 192, 192])
    y = b.node("Conv", [x, b.const(w), b.const(bias)], pads=[1, 1, 1, 1])
    b.output(y, "mesh", [1, 16, 192, 192])
    b.save("out.onnx")
"""

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

# Opset 11 has the Resize, Pad and Slice forms OpenCV 4.6 reads.
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
        """A graph input; shape None leaves it to set_input_shape()."""
        self._used.add(name)
        self.inputs.append(helper.make_tensor_value_info(name, dtype, list(shape) if shape else None))
        return name

    def set_input_shape(self, name, shape):
        for i, vi in enumerate(self.inputs):
            if vi.name == name:
                self.inputs[i] = helper.make_tensor_value_info(name, vi.type.tensor_type.elem_type, list(shape))
                return
        raise ConvertError("no graph input %s" % name)

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

    def clip(self, x, lo, hi, name=None):
        return self.node("Clip", [x, self.const(np.float32(lo), "clip_min"),
                                  self.const(np.float32(hi), "clip_max")], name=name)

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
        """The model, without the nodes and initialisers no output needs
        (converters may write a node, then fold it into a later one)."""
        for vi in self.inputs:
            if not vi.type.tensor_type.HasField("shape"):
                raise ConvertError("input %s has no known shape" % vi.name)
        graph = helper.make_graph(self.nodes, self.name, self.inputs, self.outputs, self.initializers)
        m = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="kestrel", doc_string=doc)
        m.ir_version = 7
        return tidy(m)

    def save(self, path, doc=""):
        save_model(self.model(doc), path)


def tidy(model):
    """Drops the nodes and initialisers no output needs and puts the nodes in
    an order where each comes after what it uses."""
    g = model.graph
    made = {o: n for n in g.node for o in n.output}
    order, state = [], {}
    for root in [o.name for o in g.output]:
        stack = [(root, False)]
        while stack:
            name, done = stack.pop()
            n = made.get(name)
            if n is None or state.get(id(n)) == "done":
                continue
            if done:
                state[id(n)] = "done"
                order.append(n)
                continue
            if state.get(id(n)) == "open":
                continue
            state[id(n)] = "open"
            stack.append((name, True))
            stack.extend((i, False) for i in reversed(n.input) if i)
    needed = {i for n in order for i in n.input}
    inits = [t for t in g.initializer if t.name in needed]
    del g.node[:]
    g.node.extend(order)
    del g.initializer[:]
    g.initializer.extend(inits)
    return model


def save_model(model, path):
    """Checks the model against the ONNX standard, writes it to a temporary
    file then moves it into place, so a failed conversion never leaves a
    half-written or non-standard model behind."""
    import os
    try:
        onnx.checker.check_model(model)
    except onnx.checker.ValidationError as e:
        raise ConvertError("the ONNX checker refuses the result: %s" % str(e).splitlines()[0])
    tmp = path + ".part"
    with open(tmp, "wb") as f:
        f.write(model.SerializeToString())
    os.replace(tmp, path)



def opencv_view(model):
    """A copy that OpenCV 4.6's importer loads: Clip with constant bounds as
    inputs (the opset 11 form, which that importer refuses) gets them as
    min/max attributes instead. Same arithmetic; not a valid opset 11 model."""
    m = onnx.ModelProto()
    m.CopyFrom(model)
    inits = {t.name: t for t in m.graph.initializer}
    for n in m.graph.node:
        if n.op_type != "Clip" or len(n.input) == 1:
            continue
        bounds = {}
        for key, name in zip(("min", "max"), list(n.input)[1:]):
            if not name:
                continue
            if name not in inits:
                raise ConvertError("Clip %s has a bound that is not an initialiser" % n.name)
            bounds[key] = float(numpy_helper.to_array(inits[name]).reshape(-1)[0])
        del n.input[1:]
        n.attribute.extend(helper.make_attribute(k, v) for k, v in bounds.items())
    return m
