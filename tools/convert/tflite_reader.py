"""Reads a TFLite model (a FlatBuffer) without the TFLite runtime.

Only what a converter needs: operator codes, the first subgraph's tensors and
operators with their options, and the constant buffers. Field slots follow
TFLite's schema.fbs (the numbering there is the order of the fields).
"""
import struct

import numpy as np

# TensorType -> numpy dtype
TENSOR_TYPES = {0: np.float32, 1: np.float16, 2: np.int32, 3: np.uint8, 4: np.int64,
                6: np.bool_, 7: np.int16, 9: np.int8}

# BuiltinOperator codes this reader names; others keep their number.
BUILTIN_NAMES = {
    0: "ADD", 1: "AVERAGE_POOL_2D", 2: "CONCATENATION", 3: "CONV_2D", 4: "DEPTHWISE_CONV_2D",
    5: "DEPTH_TO_SPACE", 6: "DEQUANTIZE", 9: "FULLY_CONNECTED", 14: "LOGISTIC",
    17: "MAX_POOL_2D", 18: "MUL", 19: "RELU", 21: "RELU6", 22: "RESHAPE", 23: "RESIZE_BILINEAR",
    25: "SOFTMAX", 28: "TANH", 32: "CUSTOM", 34: "PAD", 39: "TRANSPOSE", 40: "MEAN", 41: "SUB",
    42: "DIV", 43: "SQUEEZE", 45: "STRIDED_SLICE", 54: "PRELU", 55: "MAXIMUM", 57: "MINIMUM",
    60: "PADV2", 67: "TRANSPOSE_CONV", 96: "RESIZE_NEAREST_NEIGHBOR", 97: "LEAKY_RELU",
    116: "HARD_SWISH",
}


class Table:
    """A FlatBuffer table at byte position pos of buf."""

    def __init__(self, buf, pos):
        self.buf = buf
        self.pos = pos
        vtable = pos - struct.unpack_from("<i", buf, pos)[0]
        self._vtable = vtable
        self._vsize = struct.unpack_from("<H", buf, vtable)[0]

    def _offset(self, slot):
        entry = 4 + 2 * slot
        if entry + 2 > self._vsize:
            return 0
        return struct.unpack_from("<H", self.buf, self._vtable + entry)[0]

    def has(self, slot):
        return self._offset(slot) != 0

    def scalar(self, slot, fmt, default=0):
        off = self._offset(slot)
        return struct.unpack_from("<" + fmt, self.buf, self.pos + off)[0] if off else default

    def _indirect(self, slot):
        off = self._offset(slot)
        if not off:
            return None
        at = self.pos + off
        return at + struct.unpack_from("<I", self.buf, at)[0]

    def table(self, slot):
        at = self._indirect(slot)
        return Table(self.buf, at) if at is not None else None

    def _vector(self, slot):
        at = self._indirect(slot)
        if at is None:
            return None, 0
        return at + 4, struct.unpack_from("<I", self.buf, at)[0]

    def tables(self, slot):
        start, n = self._vector(slot)
        out = []
        for i in range(n):
            at = start + 4 * i
            out.append(Table(self.buf, at + struct.unpack_from("<I", self.buf, at)[0]))
        return out

    def array(self, slot, dtype):
        start, n = self._vector(slot)
        if start is None:
            return None
        return np.frombuffer(self.buf, dtype=np.dtype(dtype).newbyteorder("<"), count=n, offset=start)

    def string(self, slot):
        start, n = self._vector(slot)
        return None if start is None else bytes(self.buf[start:start + n]).decode("utf-8")


class Tensor:
    def __init__(self, index, name, shape, dtype, data):
        self.index, self.name, self.shape, self.dtype, self.data = index, name, shape, dtype, data


class Operator:
    def __init__(self, opcode, inputs, outputs, options):
        self.opcode, self.inputs, self.outputs, self.options = opcode, inputs, outputs, options


class Model:
    """The first subgraph of a TFLite model: tensors (constants carry data),
    operators in execution order, graph inputs and outputs."""

    def __init__(self, data):
        buf = memoryview(bytes(data))
        if len(buf) < 8 or bytes(buf[4:8]) != b"TFL3":
            raise ValueError("not a TFLite model (no TFL3 identifier)")
        try:
            self._read(buf)
        except (struct.error, IndexError, ValueError) as e:
            raise ValueError("the model can't be read: %s" % e) from None

    def _read(self, buf):
        root = Table(buf, struct.unpack_from("<I", buf, 0)[0])
        codes = []
        for oc in root.tables(1):
            code = oc.scalar(3, "i", 0)
            deprecated = oc.scalar(0, "b", 0)
            code = max(code, deprecated)
            name = BUILTIN_NAMES.get(code, str(code))
            if code == 32:
                name = "CUSTOM:" + (oc.string(1) or "")
            codes.append(name)
        buffers = root.tables(4)
        subgraphs = root.tables(2)
        if not subgraphs:
            raise ValueError("the model has no subgraph")
        graph = subgraphs[0]
        self.tensors = []
        for i, t in enumerate(graph.tables(0)):
            shape = [int(v) for v in (t.array(0, np.int32) if t.has(0) else [])]
            ttype = t.scalar(1, "b", 0)
            if ttype not in TENSOR_TYPES:
                raise ValueError("tensor %d has unsupported type %d" % (i, ttype))
            dtype = TENSOR_TYPES[ttype]
            data = None
            b = t.scalar(2, "I", 0)
            if b and b < len(buffers):
                raw = buffers[b].array(0, np.uint8)
                if raw is not None and len(raw):
                    data = np.frombuffer(raw.tobytes(), dtype=np.dtype(dtype).newbyteorder("<"))
                    data = data.astype(dtype).reshape(shape) if shape else data.astype(dtype).reshape(())
            self.tensors.append(Tensor(i, t.string(3) or "t%d" % i, shape, dtype, data))
        self.inputs = [int(v) for v in graph.array(1, np.int32)]
        self.outputs = [int(v) for v in graph.array(2, np.int32)]
        self.operators = []
        for op in graph.tables(3):
            idx = op.scalar(0, "I", 0)
            if idx >= len(codes):
                raise ValueError("operator code %d out of range" % idx)
            ins = [int(v) for v in op.array(1, np.int32)]
            outs = [int(v) for v in op.array(2, np.int32)]
            self.operators.append(Operator(codes[idx], ins, outs, op.table(4)))
