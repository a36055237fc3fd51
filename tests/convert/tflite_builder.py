"""Writes small TFLite models (FlatBuffers) for the converter's tests.

A minimal FlatBuffer writer: every object is written after the one that
refers to it, so all offsets point forward as the format requires.
"""
import struct

import numpy as np

BUILTIN = {"ADD": 0, "AVERAGE_POOL_2D": 1, "CONCATENATION": 2, "CONV_2D": 3, "DEPTHWISE_CONV_2D": 4,
           "DEQUANTIZE": 6, "FULLY_CONNECTED": 9, "LOGISTIC": 14, "MAX_POOL_2D": 17, "MUL": 18,
           "RESHAPE": 22, "RESIZE_BILINEAR": 23, "SOFTMAX": 25, "PAD": 34, "MEAN": 40, "PRELU": 54}
OPTION_TYPES = {"CONV_2D": 1, "DEPTHWISE_CONV_2D": 2, "MAX_POOL_2D": 5, "AVERAGE_POOL_2D": 5,
                "FULLY_CONNECTED": 8, "CONCATENATION": 10, "ADD": 11, "RESIZE_BILINEAR": 15,
                "RESHAPE": 17, "MUL": 21, "PAD": 22, "MEAN": 27}
TYPES = {np.dtype(np.float32): 0, np.dtype(np.float16): 1, np.dtype(np.int32): 2}
SIZES = {"b": 1, "B": 1, "h": 2, "H": 2, "i": 4, "I": 4, "f": 4, "q": 8, "Q": 8}


class Table:
    """fields: {slot: (fmt, value) | Table | Vector | str}"""

    def __init__(self, fields):
        self.fields = fields


class Vector:
    """A vector of scalars (fmt) or, with fmt None, of tables."""

    def __init__(self, fmt, items, align=4):
        self.fmt, self.items, self.align = fmt, list(items), align


class Writer:
    def __init__(self):
        self.buf = bytearray(8)

    def pad_to(self, align, extra=0):
        while (len(self.buf) + extra) % align:
            self.buf.append(0)

    def ref(self, at, obj):
        target = self.write(obj)
        struct.pack_into("<I", self.buf, at, target - at)

    def write(self, obj):
        if isinstance(obj, Table):
            return self.table(obj)
        if isinstance(obj, Vector):
            return self.vector(obj)
        if isinstance(obj, str):
            self.pad_to(4)
            at = len(self.buf)
            data = obj.encode()
            self.buf += struct.pack("<I", len(data)) + data + b"\0"
            return at
        raise TypeError(obj)

    def table(self, t):
        slots = max(t.fields) + 1 if t.fields else 0
        layout, size = {}, 4
        for slot in sorted(t.fields):
            v = t.fields[slot]
            width = SIZES[v[0]] if isinstance(v, tuple) else 4
            size += (-size) % width
            layout[slot] = size
            size += width
        self.pad_to(2)
        vtable = len(self.buf)
        self.buf += struct.pack("<HH", 4 + 2 * slots, size)
        for slot in range(slots):
            self.buf += struct.pack("<H", layout.get(slot, 0))
        self.pad_to(8)
        at = len(self.buf)
        self.buf += bytes(size)
        struct.pack_into("<i", self.buf, at, at - vtable)
        refs = []
        for slot, v in t.fields.items():
            if isinstance(v, tuple):
                struct.pack_into("<" + v[0], self.buf, at + layout[slot], v[1])
            else:
                refs.append((at + layout[slot], v))
        for where, v in refs:
            self.ref(where, v)
        return at

    def vector(self, v):
        width = SIZES[v.fmt] if v.fmt else 4
        self.pad_to(max(width, v.align), 4)
        at = len(self.buf)
        self.buf += struct.pack("<I", len(v.items))
        if v.fmt:
            self.buf += struct.pack("<%d%s" % (len(v.items), v.fmt), *v.items)
            return at
        slots = len(self.buf)
        self.buf += bytes(4 * len(v.items))
        for i, item in enumerate(v.items):
            self.ref(slots + 4 * i, item)
        return at

    def finish(self, root):
        self.buf[4:8] = b"TFL3"
        self.ref(0, root)
        return bytes(self.buf)


class Graph:
    """A one-subgraph TFLite model built op by op."""

    def __init__(self):
        self.tensors, self.buffers, self.ops, self.codes = [], [Table({})], [], []
        self.inputs, self.outputs = [], []

    def _tensor(self, name, shape, dtype, data=None):
        buffer = 0
        if data is not None:
            buffer = len(self.buffers)
            self.buffers.append(Table({0: Vector("B", np.ascontiguousarray(data).tobytes(), 16)}))
        self.tensors.append(Table({0: Vector("i", shape), 1: ("b", TYPES[np.dtype(dtype)]),
                                   2: ("I", buffer), 3: name}))
        return len(self.tensors) - 1

    def input(self, name, shape):
        i = self._tensor(name, shape, np.float32)
        self.inputs.append(i)
        return i

    def const(self, name, value):
        value = np.asarray(value)
        return self._tensor(name, list(value.shape), value.dtype, value)

    def op(self, kind, inputs, shape, options=None, name=None):
        """options: {slot: (fmt, value) | Vector}. Returns the output tensor."""
        out = self._tensor(name or "%s_%d" % (kind.lower(), len(self.tensors)), shape, np.float32)
        code = BUILTIN[kind]
        if code not in self.codes:
            self.codes.append(code)
        fields = {0: ("I", self.codes.index(code)), 1: Vector("i", inputs), 2: Vector("i", [out])}
        if options is not None:
            fields[3] = ("B", OPTION_TYPES.get(kind, 0))
            fields[4] = Table(options)
        self.ops.append(Table(fields))
        return out

    def output(self, i):
        self.outputs.append(i)

    def build(self):
        codes = [Table({0: ("b", min(c, 127)), 2: ("i", 1), 3: ("i", c)}) for c in self.codes]
        graph = Table({0: Vector(None, self.tensors), 1: Vector("i", self.inputs),
                       2: Vector("i", self.outputs), 3: Vector(None, self.ops), 4: "main"})
        model = Table({0: ("I", 3), 1: Vector(None, codes), 2: Vector(None, [graph]),
                       3: "test", 4: Vector(None, self.buffers)})
        return Writer().finish(model)
