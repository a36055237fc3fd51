#!/usr/bin/env python3
"""Turns a float16 ONNX model into float32 that OpenCV's DNN module loads.

    onnx_fp16.py IN OUT [--size S --base B] [--keep NAME ...]

- every float16 initialiser, Constant and declared tensor becomes float32;
- Cast nodes between float types are removed (in front of a Conv they break
  OpenCV's importer, and in float32 they do nothing);
- with --size, the Resize target sizes baked for a B x B input (the last two
  elements of each constant sizes tensor) are scaled by S / B, and the graph's
  B x B inputs and outputs are declared S x S;
- with --keep, only the named graph outputs stay, and the nodes and
  initialisers that no longer feed any of them go.
"""
import argparse
import sys

import numpy as np
import onnx
from google.protobuf.message import DecodeError
from onnx import TensorProto, helper, numpy_helper

FLOAT_TYPES = (TensorProto.FLOAT, TensorProto.FLOAT16)


def _tensor_to_float32(t):
    if t.data_type != TensorProto.FLOAT16:
        return t
    arr = numpy_helper.to_array(t).astype(np.float32)
    return numpy_helper.from_array(arr, t.name)


def _retype(value_infos):
    for vi in value_infos:
        tt = vi.type.tensor_type
        if tt.elem_type == TensorProto.FLOAT16:
            tt.elem_type = TensorProto.FLOAT


def to_float32(model):
    """float16 initialisers, Constant values, Cast targets and declared types become float32."""
    g = model.graph
    for i, t in enumerate(g.initializer):
        if t.data_type == TensorProto.FLOAT16:
            g.initializer[i].CopyFrom(_tensor_to_float32(t))
    for n in g.node:
        for a in n.attribute:
            if a.type == onnx.AttributeProto.TENSOR and a.t.data_type == TensorProto.FLOAT16:
                a.t.CopyFrom(_tensor_to_float32(a.t))
            if n.op_type == "Cast" and a.name == "to" and a.i == TensorProto.FLOAT16:
                a.i = TensorProto.FLOAT
    _retype(g.input)
    _retype(g.output)
    _retype(g.value_info)
    return model


def _rename_inputs(graph, old, new):
    for n in graph.node:
        for k, name in enumerate(n.input):
            if name == old:
                n.input[k] = new


def _rename_outputs(graph, old, new):
    for n in graph.node:
        for k, name in enumerate(n.output):
            if name == old:
                n.output[k] = new


def remove_float_casts(model):
    """Drops Cast nodes whose target is a float type; returns how many went.

    A cast whose result is a graph output hands that name to its source, so
    the graph's outputs keep their names; a cast fed straight by a graph input
    that is also a graph output is kept (nothing could carry both names)."""
    g = model.graph
    inputs = {i.name for i in g.input}
    outputs = {o.name for o in g.output}
    removed = 0
    for n in list(g.node):
        if n.op_type != "Cast":
            continue
        to = next((a.i for a in n.attribute if a.name == "to"), None)
        if to not in FLOAT_TYPES:
            continue
        src, dst = n.input[0], n.output[0]
        if dst in outputs:
            if src in inputs or src in outputs:
                continue
            g.node.remove(n)
            _rename_outputs(g, src, dst)
            _rename_inputs(g, src, dst)
        else:
            g.node.remove(n)
            _rename_inputs(g, dst, src)
        removed += 1
    del g.value_info[:]
    return removed


def _constant_pieces(name, producers, inits):
    """The constant pieces a Resize sizes tensor is made of, each with the
    position of its last element counted from the end of the sizes (0 = last).
    Pieces before a run-time piece (a shape slice) have unknown positions and
    are not returned: only the trailing, spatial sizes matter here."""
    if name in inits:
        return [("init", inits[name], 0)]
    node = producers.get(name)
    if node is None:
        return []
    if node.op_type == "Constant":
        return [("node", node, 0)]
    if node.op_type != "Concat":
        return []  # computed from shapes at run time: follows the input by itself
    found, from_end = [], 0
    for piece in reversed(node.input):
        inner = _constant_pieces(piece, producers, inits)
        if len(inner) != 1 or inner[0][2] != 0:
            break
        kind, src, _ = inner[0]
        found.append((kind, src, from_end))
        from_end += _value(kind, src).size
    return found


def _value(kind, src):
    if kind == "init":
        return numpy_helper.to_array(src)
    return numpy_helper.to_array(next(a for a in src.attribute if a.name == "value").t)


def _scaled(arr, from_end, size, base, where):
    """arr with its elements among the last two of the sizes scaled by size / base."""
    out = arr.astype(np.int64).reshape(-1).copy()
    for k in range(out.size):
        if out.size - 1 - k + from_end < 2:
            if out[k] * size % base:
                raise ValueError(f"{where}: size {arr.tolist()} does not scale by {size}/{base} to whole pixels")
            out[k] = out[k] * size // base
    return out.reshape(arr.shape).astype(arr.dtype)


def scale_resizes(model, size, base):
    """Scales the constant spatial Resize target sizes (the last two) by size / base.

    Returns how many constants changed."""
    g = model.graph
    producers = {o: n for n in g.node for o in n.output}
    inits = {t.name: t for t in g.initializer}
    done = set()
    changed = 0
    for n in g.node:
        if n.op_type != "Resize" or len(n.input) < 4 or not n.input[3]:
            continue
        for kind, src, from_end in _constant_pieces(n.input[3], producers, inits):
            if id(src) in done or from_end >= 2:
                continue
            done.add(id(src))
            name = src.name if kind == "init" else src.output[0]
            scaled = _scaled(_value(kind, src), from_end, size, base, name)
            if kind == "init":
                src.CopyFrom(numpy_helper.from_array(scaled, src.name))
            else:
                a = next(a for a in src.attribute if a.name == "value")
                a.t.CopyFrom(numpy_helper.from_array(scaled, a.t.name))
            changed += 1
    for vi in list(g.input) + list(g.output):
        dims = vi.type.tensor_type.shape.dim
        if len(dims) == 4 and dims[2].dim_value == base and dims[3].dim_value == base:
            dims[2].dim_value = size
            dims[3].dim_value = size
    return changed


def keep_outputs(model, keep):
    """Keeps only the named graph outputs and what feeds them."""
    g = model.graph
    names = {o.name for o in g.output}
    missing = [k for k in keep if k not in names]
    if missing:
        raise ValueError("no graph output named " + ", ".join(missing))
    kept = [o for o in g.output if o.name in keep]
    del g.output[:]
    g.output.extend(kept)
    needed = set(keep)
    live = []
    for n in reversed(g.node):
        if any(o in needed for o in n.output):
            live.append(n)
            needed.update(i for i in n.input if i)
    live.reverse()
    del g.node[:]
    g.node.extend(live)
    inits = [t for t in g.initializer if t.name in needed]
    del g.initializer[:]
    g.initializer.extend(inits)


def convert(model, size=None, base=1024, keep=None):
    to_float32(model)
    remove_float_casts(model)
    if keep:
        keep_outputs(model, keep)
    if size is not None and size != base:
        scale_resizes(model, size, base)
    onnx.checker.check_model(model)
    return model


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("src")
    p.add_argument("dst")
    p.add_argument("--size", type=int, help="input side to run the model at")
    p.add_argument("--base", type=int, default=1024, help="input side the Resize sizes were baked for")
    p.add_argument("--keep", nargs="+", help="graph outputs to keep")
    a = p.parse_args(argv)
    if a.size is not None and a.size <= 0:
        p.error("--size must be positive")
    try:
        try:
            model = onnx.load(a.src)
        except DecodeError:
            raise ValueError(f"{a.src} is not an ONNX model") from None
        convert(model, a.size, a.base, a.keep)
        onnx.save(model, a.dst)
    except (ValueError, onnx.checker.ValidationError, OSError) as e:
        print(f"onnx_fp16: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
