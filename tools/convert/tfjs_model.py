"""Reading a TensorFlow.js graph model: the JSON topology and its weights.

A graph model is a model.json with `modelTopology.node` (TensorFlow NodeDefs
in JSON form) and `weightsManifest`: groups of weight shard files, each group
read as the concatenation of its shards, holding the weights one after the
other. Weights are float32, int32 or bool, and may be quantised to float16,
uint8 or uint16 (then value = q * scale + min).
"""

import base64
import json
import os

import numpy as np

from onnx_build import ConvertError

_DTYPES = {"float32": np.float32, "int32": np.int32, "bool": np.bool_}
_QUANTISED = {"float16": np.float16, "uint8": np.uint8, "uint16": np.uint16}


class Node:
    def __init__(self, d):
        self.name = d["name"]
        self.op = d["op"]
        inputs = d.get("input", [])
        self.inputs = [i for i in inputs if not i.startswith("^")]  # no control edges
        self.attr = d.get("attr", {})

    def s(self, key, default=None):
        v = self.attr.get(key)
        return base64.b64decode(v["s"]).decode() if v and "s" in v else default

    def i(self, key, default=None):
        v = self.attr.get(key)
        return int(v["i"]) if v and "i" in v else default

    def f(self, key, default=None):
        v = self.attr.get(key)
        return float(v["f"]) if v and "f" in v else default

    def b(self, key, default=False):
        v = self.attr.get(key)
        return bool(v["b"]) if v and "b" in v else default

    def ints(self, key, default=None):
        v = self.attr.get(key)
        if not v or "list" not in v:
            return default
        return [int(x) for x in v["list"].get("i", [])]

    def strings(self, key):
        v = self.attr.get(key)
        if not v or "list" not in v:
            return []
        return [base64.b64decode(x).decode() for x in v["list"].get("s", [])]

    def shape(self, key="shape"):
        v = self.attr.get(key)
        if not v or "shape" not in v:
            return None
        return [int(d.get("size", -1)) for d in v["shape"].get("dim", [])]


class GraphModel:
    def __init__(self, nodes, weights, signature):
        self.nodes = nodes          # name -> Node, in file order
        self.weights = weights      # name -> numpy array
        self.signature = signature  # {"inputs": {...}, "outputs": {...}} or {}


def _read_group(group, folder):
    data = b""
    for p in group["paths"]:
        path = os.path.join(folder, p)
        try:
            with open(path, "rb") as f:
                data += f.read()
        except OSError as e:
            raise ConvertError("can't read weight shard %s: %s" % (path, e.strerror))
    weights, offset = {}, 0
    for w in group["weights"]:
        shape = [int(s) for s in w["shape"]]
        count = int(np.prod(shape)) if shape else 1
        q = w.get("quantization")
        if q:
            if q["dtype"] not in _QUANTISED:
                raise ConvertError("weight %s: unsupported quantisation %s" % (w["name"], q["dtype"]))
            stored = np.dtype(_QUANTISED[q["dtype"]])
        else:
            if w["dtype"] not in _DTYPES:
                raise ConvertError("weight %s: unsupported type %s" % (w["name"], w["dtype"]))
            stored = np.dtype(_DTYPES[w["dtype"]])
        size = count * stored.itemsize
        if offset + size > len(data):
            raise ConvertError("weight shards end before weight %s" % w["name"])
        a = np.frombuffer(data, stored.newbyteorder("<"), count, offset).reshape(shape)
        offset += size
        if q:
            if q["dtype"] == "float16":
                a = a.astype(np.float32)
            else:
                a = a.astype(np.float32) * np.float32(q["scale"]) + np.float32(q["min"])
            if w["dtype"] == "int32":
                a = np.round(a).astype(np.int32)
        weights[w["name"]] = a.copy()
    if offset != len(data):
        raise ConvertError("weight shards of %s hold %d bytes, the manifest describes %d"
                           % (", ".join(group["paths"]), len(data), offset))
    return weights


def load(path):
    """Reads model.json and its weight shards; raises ConvertError with a clear message."""
    try:
        with open(path, "rb") as f:
            doc = json.load(f)
    except OSError as e:
        raise ConvertError("can't read %s: %s" % (path, e.strerror))
    except ValueError as e:
        raise ConvertError("%s is not JSON: %s" % (path, e))
    if not isinstance(doc, dict) or "modelTopology" not in doc or "weightsManifest" not in doc:
        raise ConvertError("%s is not a TensorFlow.js graph model" % path)
    topo = doc["modelTopology"]
    if "node" not in topo:
        raise ConvertError("%s is a layers model, not a graph model" % path)
    nodes = {}
    for d in topo["node"]:
        n = Node(d)
        nodes[n.name] = n
    folder = os.path.dirname(os.path.abspath(path))
    weights = {}
    for group in doc["weightsManifest"]:
        weights.update(_read_group(group, folder))
    return GraphModel(nodes, weights, doc.get("signature") or {})
