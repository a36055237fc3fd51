"""Small TensorFlow.js graph models made by the tests, and a NumPy evaluator
of the same graphs with TensorFlow's semantics (channels-last, SAME padding
placed as TensorFlow places it) to check the converted models against."""

import base64
import json
import os

import numpy as np


def _attr(v):
    if isinstance(v, dict):  # already in JSON form, such as {"type": "DT_INT32"}
        return v
    if isinstance(v, bool):
        return {"b": v}
    if isinstance(v, int):
        return {"i": str(v)}
    if isinstance(v, float):
        return {"f": v}
    if isinstance(v, str):
        return {"s": base64.b64encode(v.encode()).decode()}
    if isinstance(v, list) and all(isinstance(x, str) for x in v) and v:
        return {"list": {"s": [base64.b64encode(x.encode()).decode() for x in v]}}
    if isinstance(v, list):
        return {"list": {"i": [str(x) for x in v]}}
    raise TypeError(v)


class Graph:
    def __init__(self):
        self.nodes = []
        self.weights = []  # (name, array, quantisation or None)
        self.values = {}

    def placeholder(self, name, shape):
        """shape None: unknown rank."""
        dims = {"unknownRank": True} if shape is None else {"dim": [{"size": str(s)} for s in shape]}
        self.nodes.append({"name": name, "op": "Placeholder",
                           "attr": {"dtype": {"type": "DT_FLOAT"}, "shape": {"shape": dims}}})
        return name

    def const(self, name, array, quant=None):
        """quant: None, "float16" or "uint8" (stored quantised in the shards)."""
        a = np.asarray(array)
        if quant == "float16":
            a = a.astype(np.float16).astype(np.float32)
        elif quant == "uint8":
            lo, hi = float(a.min()), float(a.max())
            scale = (hi - lo) / 255 or 1.0
            q = np.round((a - lo) / scale).astype(np.uint8)
            a = (q.astype(np.float32) * np.float32(scale) + np.float32(lo))
            quant = {"dtype": "uint8", "scale": scale, "min": lo, "q": q}
        self.nodes.append({"name": name, "op": "Const", "attr": {}})
        self.weights.append((name, a, quant))
        self.values[name] = a
        return name

    def op(self, name, op, inputs, **attrs):
        self.nodes.append({"name": name, "op": op, "input": list(inputs),
                           "attr": {k: _attr(v) for k, v in attrs.items()}})
        return name

    def save(self, folder, shards=2, signature=None):
        """model.json plus the weights split over `shards` files."""
        blob, manifest = b"", []
        for name, a, quant in self.weights:
            entry = {"name": name, "shape": list(a.shape),
                     "dtype": "int32" if a.dtype.kind in "iu" else "float32"}
            if quant == "float16":
                blob += a.astype("<f2").tobytes()
                entry["quantization"] = {"dtype": "float16", "original_dtype": "float32"}
            elif isinstance(quant, dict):
                blob += quant["q"].tobytes()
                entry["quantization"] = {"dtype": "uint8", "scale": quant["scale"], "min": quant["min"]}
            elif a.dtype.kind in "iu":
                blob += a.astype("<i4").tobytes()
            else:
                blob += a.astype("<f4").tobytes()
            manifest.append(entry)
        cut = [len(blob) * i // shards for i in range(shards + 1)]
        paths = []
        for i in range(shards):
            paths.append("group1-shard%dof%d.bin" % (i + 1, shards))
            with open(os.path.join(folder, paths[-1]), "wb") as f:
                f.write(blob[cut[i]:cut[i + 1]])
        doc = {"format": "graph-model", "modelTopology": {"node": self.nodes},
               "weightsManifest": [{"paths": paths, "weights": manifest}]}
        if signature:
            doc["signature"] = signature
        path = os.path.join(folder, "model.json")
        with open(path, "w") as f:
            json.dump(doc, f)
        return path

    # ---- the NumPy evaluator ---------------------------------------------
    def run(self, feeds, outputs):
        """Evaluates what the outputs need, nothing else. A Switch leaves its
        untaken output DEAD; so is whatever uses it, up to a Merge."""
        env = dict(self.values)
        env.update(feeds)
        nodes = {n["name"]: n for n in self.nodes}

        def value(ref):
            name, _, idx = ref.partition(":")
            if name not in env:
                n = nodes[name]
                ins = [value(i) for i in n.get("input", [])]
                dead = n["op"] != "Merge" and any(i is DEAD for i in ins)
                env[name] = DEAD if dead else _EVAL[n["op"]](n, ins)
            v = env[name]
            return v[int(idx or 0)] if isinstance(v, list) else v

        return [value(o) for o in outputs]


DEAD = object()


def _get(n, key, default=None):
    a = n["attr"].get(key)
    if a is None:
        return default
    if "s" in a:
        return base64.b64decode(a["s"]).decode()
    if "i" in a:
        return int(a["i"])
    if "f" in a:
        return a["f"]
    if "b" in a:
        return a["b"]
    if "list" in a:
        lst = a["list"]
        if "s" in lst:
            return [base64.b64decode(x).decode() for x in lst["s"]]
        return [int(x) for x in lst.get("i", [])]
    return default


def _same(size, k, s, d):
    eff = (k - 1) * d + 1
    out = (size + s - 1) // s
    total = max((out - 1) * s + eff - size, 0)
    return total // 2, total - total // 2


def _padding(n, x, kh, kw, s, d):
    mode = _get(n, "padding")
    if mode == "SAME":
        return _same(x.shape[1], kh, s[0], d[0]) + _same(x.shape[2], kw, s[1], d[1])
    if mode == "EXPLICIT":
        p = _get(n, "explicit_paddings")
        return p[2], p[3], p[4], p[5]
    return 0, 0, 0, 0


def conv2d(x, w, strides, pads, dil, groups=1):
    """x NHWC, w [kh, kw, cin/groups, cout]; pads (top, bottom, left, right)."""
    pt, pb, pl, pr = pads
    xp = np.pad(x, [(0, 0), (pt, pb), (pl, pr), (0, 0)])
    n, h, wd, c = xp.shape
    kh, kw, cg, cout = w.shape
    oh = (h - (kh - 1) * dil[0] - 1) // strides[0] + 1
    ow = (wd - (kw - 1) * dil[1] - 1) // strides[1] + 1
    og = cout // groups
    out = np.zeros((n, oh, ow, cout), np.float64)
    for i in range(kh):
        for j in range(kw):
            y0, x0 = i * dil[0], j * dil[1]
            patch = xp[:, y0:y0 + strides[0] * (oh - 1) + 1:strides[0], x0:x0 + strides[1] * (ow - 1) + 1:strides[1]]
            for g in range(groups):
                out[..., g * og:(g + 1) * og] += patch[..., g * cg:(g + 1) * cg] @ w[i, j, :, g * og:(g + 1) * og]
    return out


def _conv_node(n, ins, depthwise):
    x, w = ins[0], ins[1]
    s = _get(n, "strides", [1, 1, 1, 1])[1:3]
    d = (_get(n, "dilations") or [1, 1, 1, 1])[1:3]
    kh, kw = w.shape[:2]
    groups = x.shape[3] // w.shape[2]
    if depthwise:
        groups = x.shape[3]
        w = w.reshape(kh, kw, 1, -1)
    y = conv2d(x, w, s, _padding(n, x, kh, kw, s, d), d, groups)
    ops = _get(n, "fused_ops") or []
    args = ins[2:]
    if ops and ops[0] == "BiasAdd":
        y = y + args[0]
        rest = args[1:]
    elif ops and ops[0].startswith("FusedBatchNorm"):
        scale, offset, mean, var = args[:4]
        y = (y - mean) * scale / np.sqrt(var + _get(n, "epsilon", 0.001)) + offset
        rest = args[4:]
    for op in ops[1:]:
        y = _EVAL[op]({"attr": {}}, [y] + rest[:1])
    return y


def _pool(n, x, reduce):
    k = _get(n, "ksize")[1:3]
    s = _get(n, "strides")[1:3]
    pt, pb, pl, pr = _padding(n, x, k[0], k[1], s, [1, 1])
    fill = -np.inf if reduce == "max" else np.nan
    xp = np.pad(x.astype(np.float64), [(0, 0), (pt, pb), (pl, pr), (0, 0)], constant_values=fill)
    oh = (xp.shape[1] - k[0]) // s[0] + 1
    ow = (xp.shape[2] - k[1]) // s[1] + 1
    out = np.zeros((x.shape[0], oh, ow, x.shape[3]))
    for i in range(oh):
        for j in range(ow):
            win = xp[:, i * s[0]:i * s[0] + k[0], j * s[1]:j * s[1] + k[1]]
            out[:, i, j] = win.max(axis=(1, 2)) if reduce == "max" else np.nanmean(win, axis=(1, 2))
    return out


def _resize(n, ins, linear):
    x, size = ins
    oh, ow = (int(v) for v in size)
    align, half = _get(n, "align_corners", False), _get(n, "half_pixel_centers", False)

    def coords(out, size):
        o = np.arange(out, dtype=np.float64)
        if align:
            scale = (size - 1) / (out - 1) if out > 1 else 0.0
            return o * scale
        if half and linear:
            return (o + 0.5) * size / out - 0.5
        if half:
            return (o + 0.5) * size / out
        return o * size / out

    ys, xs = coords(oh, x.shape[1]), coords(ow, x.shape[2])
    if not linear:
        pick = np.round if align else np.floor
        yi = np.clip(pick(ys).astype(int), 0, x.shape[1] - 1)
        xi = np.clip(pick(xs).astype(int), 0, x.shape[2] - 1)
        return x[:, yi][:, :, xi]
    ys, xs = np.maximum(ys, 0), np.maximum(xs, 0)
    y0 = np.minimum(np.floor(ys).astype(int), x.shape[1] - 1)
    x0 = np.minimum(np.floor(xs).astype(int), x.shape[2] - 1)
    y1, x1 = np.minimum(y0 + 1, x.shape[1] - 1), np.minimum(x0 + 1, x.shape[2] - 1)
    fy, fx = (ys - y0)[None, :, None, None], (xs - x0)[None, None, :, None]
    top = x[:, y0][:, :, x0] * (1 - fx) + x[:, y0][:, :, x1] * fx
    bottom = x[:, y1][:, :, x0] * (1 - fx) + x[:, y1][:, :, x1] * fx
    return top * (1 - fy) + bottom * fy


def _conv_transpose(n, ins):
    sizes, w, x = ins  # w [kh, kw, out, in]
    s = _get(n, "strides")[1:3]
    kh, kw = w.shape[:2]
    nb, h, wd, _ = x.shape
    full = np.zeros((nb, (h - 1) * s[0] + kh, (wd - 1) * s[1] + kw, w.shape[2]))
    for i in range(h):
        for j in range(wd):
            full[:, i * s[0]:i * s[0] + kh, j * s[1]:j * s[1] + kw] += np.einsum("nc,hwoc->nhwo", x[:, i, j], w)
    oh, ow = int(sizes[1]), int(sizes[2])
    top = max(full.shape[1] - oh, 0) // 2 if _get(n, "padding") == "SAME" else 0
    left = max(full.shape[2] - ow, 0) // 2 if _get(n, "padding") == "SAME" else 0
    return full[:, top:top + oh, left:left + ow]


def _depth_to_space(n, ins):
    x, bs = ins[0], _get(n, "block_size")
    nb, h, w, c = x.shape
    y = x.reshape(nb, h, w, bs, bs, c // bs // bs).transpose(0, 1, 3, 2, 4, 5)
    return y.reshape(nb, h * bs, w * bs, c // bs // bs)


def _strided_slice(n, ins):
    x, begin, end, strides = ins
    index = []
    for d, (b, e, s) in enumerate(zip(begin, end, strides)):
        if _get(n, "shrink_axis_mask", 0) >> d & 1:
            index.append(int(b))
        else:
            index.append(slice(None if _get(n, "begin_mask", 0) >> d & 1 else int(b),
                               None if _get(n, "end_mask", 0) >> d & 1 else int(e), int(s)))
    return np.asarray(x[tuple(index)])


def _space_to_batch(n, ins):
    x, (bh, bw), pads = ins
    x = np.pad(x, [(0, 0), tuple(pads[0]), tuple(pads[1]), (0, 0)])
    nb, h, w, c = x.shape
    x = x.reshape(nb, h // bh, bh, w // bw, bw, c).transpose(2, 4, 0, 1, 3, 5)
    return x.reshape(bh * bw * nb, h // bh, w // bw, c)


def _batch_to_space(n, ins):
    x, (bh, bw), crops = ins
    b, h, w, c = x.shape
    nb = b // (bh * bw)
    x = x.reshape(bh, bw, nb, h, w, c).transpose(2, 3, 0, 4, 1, 5).reshape(nb, h * bh, w * bw, c)
    return x[:, crops[0][0]:h * bh - crops[0][1], crops[1][0]:w * bw - crops[1][1]]


def _switch(n, ins):
    data, pred = ins
    return [DEAD, data] if bool(pred) else [data, DEAD]


def _merge(n, ins):
    live = [i for i, v in enumerate(ins) if v is not DEAD]
    assert len(live) == 1, "a Merge needs exactly one live input"
    return [ins[live[0]], np.int32(live[0])]


def _prelu(n, ins):
    x, a = ins
    return np.where(x >= 0, x, x * a)


_EVAL = {
    "Conv2D": lambda n, i: _conv_node(n, i, False),
    "_FusedConv2D": lambda n, i: _conv_node(n, i, False),
    "DepthwiseConv2dNative": lambda n, i: _conv_node(n, i, True),
    "FusedDepthwiseConv2dNative": lambda n, i: _conv_node(n, i, True),
    "Conv2DBackpropInput": _conv_transpose,
    "BiasAdd": lambda n, i: i[0] + i[1],
    "Add": lambda n, i: i[0] + i[1],
    "AddV2": lambda n, i: i[0] + i[1],
    "AddN": lambda n, i: sum(i),
    "Sub": lambda n, i: i[0] - i[1],
    "Mul": lambda n, i: i[0] * i[1],
    "RealDiv": lambda n, i: i[0] / i[1],
    "Maximum": lambda n, i: np.maximum(i[0], i[1]),
    "Relu": lambda n, i: np.maximum(i[0], 0),
    "Relu6": lambda n, i: np.clip(i[0], 0, 6),
    "Sigmoid": lambda n, i: 1 / (1 + np.exp(-i[0])),
    "Tanh": lambda n, i: np.tanh(i[0]),
    "Prelu": _prelu,
    "MaxPool": lambda n, i: _pool(n, i[0], "max"),
    "AvgPool": lambda n, i: _pool(n, i[0], "avg"),
    "Mean": lambda n, i: i[0].mean(axis=tuple(int(a) for a in np.ravel(i[1])), keepdims=_get(n, "keep_dims", False)),
    "Pad": lambda n, i: np.pad(i[0], [(int(a), int(b)) for a, b in i[1]]),
    "ConcatV2": lambda n, i: np.concatenate(i[:-1], axis=int(i[-1])),
    "Reshape": lambda n, i: i[0].reshape([int(v) for v in i[1]]),
    "MatMul": lambda n, i: i[0] @ (i[1].T if _get(n, "transpose_b") else i[1]),
    "ResizeBilinear": lambda n, i: _resize(n, i, True),
    "ResizeNearestNeighbor": lambda n, i: _resize(n, i, False),
    "DepthToSpace": _depth_to_space,
    "Identity": lambda n, i: i[0],
    "Minimum": lambda n, i: np.minimum(i[0], i[1]),
    "Square": lambda n, i: np.square(i[0]),
    "Shape": lambda n, i: np.array(i[0].shape, np.int32),
    "StridedSlice": _strided_slice,
    "Pack": lambda n, i: np.stack(i, axis=_get(n, "axis", 0)),
    "Squeeze": lambda n, i: np.squeeze(i[0]),
    "Equal": lambda n, i: np.equal(i[0], i[1]),
    "FloorMod": lambda n, i: np.mod(i[0], i[1]),
    "Cast": lambda n, i: np.asarray(i[0]).astype({"DT_FLOAT": np.float32, "DT_INT32": np.int32}[n["attr"]["DstT"]["type"]]),
    "Switch": _switch,
    "Merge": _merge,
    "Split": lambda n, i: np.split(i[1], _get(n, "num_split"), axis=int(i[0])),
    "SplitV": lambda n, i: np.split(i[0], np.cumsum(i[1])[:-1], axis=int(i[2])),
    "Slice": lambda n, i: i[0][tuple(slice(b, None if s == -1 else b + s) for b, s in zip(i[1], i[2]))],
    "BroadcastTo": lambda n, i: np.broadcast_to(i[0], [int(v) for v in i[1]]),
    "SpaceToBatchND": _space_to_batch,
    "BatchToSpaceND": _batch_to_space,
}
