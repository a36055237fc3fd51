"""Computes only the channels a model uses.

A Split over channels whose pieces are not all used (RVM computes the
foreground colour and the alpha together, in a guided filter at full size,
then splits them) gets each used piece from a copy of the ops before it that
works on those channels alone: channel-wise ops (element-wise arithmetic and
activations, Resize, depthwise convolutions) are narrowed, a convolution
keeps only the filters in range, a channel Concat gives only the parts in
range, and anything else is sliced. The wide ops go
when nothing else needs them."""

import numpy as np
from onnx import helper, numpy_helper, shape_inference

_UNARY = ("Relu", "Sigmoid", "Tanh", "Clip", "Identity")
_BINARY = ("Add", "Sub", "Mul", "Div")


def _attr(node, key, default=None):
    for a in node.attribute:
        if a.name == key:
            return helper.get_attribute_value(a)
    return default


class _Narrower:
    def __init__(self, model):
        g = model.graph
        inferred = shape_inference.infer_shapes(model).graph
        self.shapes = {vi.name: [d.dim_value for d in vi.type.tensor_type.shape.dim]
                       for vi in list(inferred.value_info) + list(g.input) + list(g.output)}
        self.graph = g
        self.producer = {o: n for n in g.node for o in n.output}
        self.inits = {t.name: numpy_helper.to_array(t) for t in g.initializer}
        self.memo = {}
        self.count = 0

    def channels(self, name):
        if name in self.inits:
            a = self.inits[name]
            return a.shape[1] if a.ndim == 4 else (1 if a.size == 1 else None)
        s = self.shapes.get(name)
        return s[1] if s and len(s) == 4 else None

    def fresh(self, base):
        self.count += 1
        return "%s_ch%d" % (base, self.count)

    def add(self, op, inputs, base, **attrs):
        out = self.fresh(base)
        self.graph.node.append(helper.make_node(op, inputs, [out], name=out, **attrs))
        return out

    def const(self, array, base):
        name = self.fresh(base)
        self.graph.initializer.append(numpy_helper.from_array(np.ascontiguousarray(array), name))
        self.inits[name] = array
        return name

    def operand(self, name, lo, hi, width):
        """An input of a channel-wise op of `width` channels, for channels lo..hi."""
        c = self.channels(name)
        if c == 1 or (c is None and name in self.inits and self.inits[name].ndim < 3):
            return name  # broadcast over the channels
        if c == width:
            return self.narrow(name, lo, hi)
        raise _Keep()

    def narrow(self, name, lo, hi):
        """A tensor holding channels lo..hi of `name`."""
        width = self.channels(name)
        if width is None:
            raise _Keep()
        if (lo, hi) == (0, width):
            return name
        key = (name, lo, hi)
        if key not in self.memo:
            try:
                self.memo[key] = self._narrowed(name, lo, hi, width)
            except _Keep:
                self.memo[key] = self.add("Slice", [name, self.const(np.array([lo]), "starts"),
                                                    self.const(np.array([hi]), "ends"),
                                                    self.const(np.array([1]), "axes")], name)
        return self.memo[key]

    def _narrowed(self, name, lo, hi, width):
        if name in self.inits:
            return self.const(self.inits[name][:, lo:hi], name)
        n = self.producer.get(name)
        if n is None:
            raise _Keep()
        op = n.op_type
        if op == "Concat" and _attr(n, "axis") == 1:
            parts, start = [], 0
            for i in n.input:
                c = self.channels(i)
                if c is None:
                    raise _Keep()
                if start < hi and start + c > lo:
                    parts.append(self.narrow(i, max(lo - start, 0), min(hi, start + c) - start))
                start += c
            return parts[0] if len(parts) == 1 else self.add("Concat", parts, name, axis=1)
        if op == "Split" and _attr(n, "axis") == 1:
            sizes = _attr(n, "split")
            offset = sum(sizes[:list(n.output).index(name)])
            return self.narrow(n.input[0], offset + lo, offset + hi)
        if op in _UNARY:
            return self.add(op, [self.narrow(n.input[0], lo, hi)] + list(n.input[1:]), name,
                            **{a.name: helper.get_attribute_value(a) for a in n.attribute})
        if op in _BINARY:
            return self.add(op, [self.operand(i, lo, hi, width) for i in n.input], name)
        if op == "Resize" and len(n.input) > 3 and n.input[3] in self.inits:
            sizes = self.inits[n.input[3]].copy()
            sizes[1] = hi - lo
            return self.add(op, [self.narrow(n.input[0], lo, hi), n.input[1], n.input[2],
                                 self.const(sizes, "sizes")], name,
                            **{a.name: helper.get_attribute_value(a) for a in n.attribute})
        if op == "Conv" and n.input[1] in self.inits and (len(n.input) < 3 or n.input[2] in self.inits):
            # Fewer filters; a depthwise one also needs fewer input channels.
            group, w = _attr(n, "group", 1), self.inits[n.input[1]]
            attrs = {a.name: helper.get_attribute_value(a) for a in n.attribute}
            if group == 1:
                x = n.input[0]
            elif group == width == self.channels(n.input[0]) == w.shape[0]:
                x, attrs["group"] = self.narrow(n.input[0], lo, hi), hi - lo
            else:
                raise _Keep()
            ins = [x, self.const(w[lo:hi], "weight")]
            if len(n.input) > 2:
                ins.append(self.const(self.inits[n.input[2]][lo:hi], "bias"))
            return self.add(op, ins, name, **attrs)
        raise _Keep()


class _Keep(Exception):
    """This tensor is sliced, not narrowed."""


def narrow_channels(model):
    """Rewrites the graph in place; onnx_build.tidy() then drops what no
    output needs and puts the nodes in order. Returns how many Split pieces
    were rewired."""
    g = model.graph
    outputs = {o.name for o in g.output}
    used = {i for n in g.node for i in n.input} | outputs
    splits = [n for n in g.node if n.op_type == "Split" and _attr(n, "axis") == 1 and _attr(n, "split")
              and not all(o in used for o in n.output)]
    if not splits:
        return 0
    nar = _Narrower(model)
    rewired = 0
    for s in splits:
        sizes = _attr(s, "split")
        for k, piece in enumerate(s.output):
            if piece not in used:
                continue
            lo = sum(sizes[:k])
            new = nar.narrow(s.input[0], lo, lo + sizes[k])
            for n in g.node:
                for i, name in enumerate(n.input):
                    if name == piece:
                        n.input[i] = new
            s.output[k] = piece + "_wide"
            if piece in outputs:
                g.node.append(helper.make_node("Identity", [new], [piece], name=piece))
            rewired += 1
    return rewired
