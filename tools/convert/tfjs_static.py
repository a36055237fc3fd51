"""What the TFJS converter works out at conversion time: tensor values, the
shape arithmetic a graph does on its own tensors, and control flow.

With every input size fixed, Shape gives a constant and the integer arithmetic
behind sizes, crops and paddings folds away. A Switch whose predicate folds to
a constant passes its data down one branch only; the other branch is dead, and
so is everything that uses it, until a Merge takes the live input."""

import numpy as np

from onnx_build import ConvertError


class Value:
    """A converted tensor. `shape` is TensorFlow's (channels-last) shape.

    layout: "nchw"     a 4D tensor stored channels-first;
            "plain"    stored exactly as TensorFlow has it;
            "rows"     TensorFlow's 2D [N*H*W, C] view of a 4D tensor that is
                       stored channels-first with grid [N, H, W, C];
            "open"     a graph input whose shape is not known yet (the first
                       BroadcastTo that uses it gives the shape);
            "batched"  the blocks of a SpaceToBatchND (`via` holds what made
                       them); only a convolution may use them;
            "dilated"  a convolution over such blocks, written once the
                       BatchToSpaceND after it gives the crops (`via`).
    A constant has `const` set and no ONNX tensor until one is needed.
    `via` on a Clip's result is (source Value, low, high), so that a second
    bound joins the first. `part` is (source Value, axis, start, stop) for a
    piece of a Split."""

    def __init__(self, name, shape, layout="plain", const=None, grid=None, via=None, part=None):
        self.name = name
        self.shape = None if shape is None else [int(s) for s in shape]
        self.layout = layout
        self.const = const
        self.grid = grid
        self.via = via
        self.part = part


# The output of an untaken branch.
DEAD = Value(None, [], "dead")


def const(a):
    a = np.asarray(a)
    return Value(None, a.shape, const=a)


def _strided_slice(a, begin, end, strides, node):
    if node.i("new_axis_mask", 0) or node.i("ellipsis_mask", 0):
        raise ConvertError("new-axis and ellipsis masks are not supported")
    begin_mask, end_mask, shrink = (node.i(k, 0) for k in ("begin_mask", "end_mask", "shrink_axis_mask"))
    index = []
    for d, (b, e, s) in enumerate(zip(begin, end, strides)):
        if shrink >> d & 1:
            index.append(int(b))
        else:
            index.append(slice(None if begin_mask >> d & 1 else int(b),
                               None if end_mask >> d & 1 else int(e), int(s)))
    return np.asarray(a[tuple(index)])


class StaticOps:
    """Handlers for ops that only ever see constants once sizes are fixed,
    and for Switch/Merge. Mixed into the converter."""

    def _consts(self, node, ins):
        if any(v.const is None for v in ins):
            raise ConvertError("%s of a computed tensor is not supported" % node.op)
        return [v.const for v in ins]

    def op_Shape(self, node, ins):
        return const(np.array(ins[0].shape, np.int32))

    def op_StridedSlice(self, node, ins):
        a, begin, end, strides = self._consts(node, ins)
        return const(_strided_slice(a, begin, end, strides, node))

    def op_Pack(self, node, ins):
        return const(np.stack(self._consts(node, ins), axis=node.i("axis", 0)))

    def op_Squeeze(self, node, ins):
        (a,) = self._consts(node, ins)
        dims = node.ints("squeeze_dims") or None
        return const(np.squeeze(a, axis=tuple(dims) if dims else None))

    def op_Equal(self, node, ins):
        return const(np.equal(*self._consts(node, ins)))

    def op_FloorMod(self, node, ins):
        return const(np.mod(*self._consts(node, ins)))

    def op_Switch(self, node, ins):
        data, pred = ins
        if pred.const is None or pred.const.size != 1:
            raise ConvertError("the branch condition must fold to one constant; "
                               "fix the inputs it depends on (--constant, --input-shape)")
        return [DEAD, data] if bool(pred.const.reshape(-1)[0]) else [data, DEAD]

    def op_Merge(self, node, ins):
        live = [i for i, v in enumerate(ins) if v is not DEAD]
        if len(live) != 1:
            raise ConvertError("%d live inputs to a Merge" % len(live))
        return [ins[live[0]], const(np.int32(live[0]))]
