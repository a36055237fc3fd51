"""Runs ONNX models through the executor (the run_model tool) and reads its
outputs back as NumPy arrays; shared by the engine's tests."""
import os
import subprocess
import tempfile

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

RUN_MODEL = os.environ.get("KESTREL_RUN_MODEL", "")


class Refused(Exception):
    """The executor would not load the model: its one line."""


def run_file(path, inputs, int8=False):
    """inputs: arrays in the model's input order. Returns {name: array}.
    Convolutions run in float unless int8 is asked for and the model has an
    int8 side file."""
    with tempfile.TemporaryDirectory() as tmp:
        files = []
        for k, a in enumerate(inputs):
            f = os.path.join(tmp, "in%d.f32" % k)
            np.ascontiguousarray(a, dtype=np.float32).tofile(f)
            files.append(f)
        env = dict(os.environ, KESTREL_FLOAT="0" if int8 else "1")
        r = subprocess.run([RUN_MODEL, path, tmp] + files, capture_output=True, text=True, timeout=300, env=env)
        if r.returncode == 1:
            raise Refused(r.stderr.strip())
        if r.returncode != 0:
            raise AssertionError("run_model ended with %d: %s" % (r.returncode, r.stderr))
        out = {}
        for k, line in enumerate(r.stdout.splitlines()):
            name, *dims = line.split(" ")
            data = np.fromfile(os.path.join(tmp, "%d.f32" % k), dtype=np.float32)
            out[name] = data.reshape([int(d) for d in dims])
        return out


def make_model(nodes, inputs, outputs, initializers=None, opset=13, check=True):
    """inputs and outputs: {name: shape}; initializers: {name: array}."""
    graph = helper.make_graph(
        nodes, "case",
        [helper.make_tensor_value_info(n, TensorProto.FLOAT, list(s)) for n, s in inputs.items()],
        [helper.make_tensor_value_info(n, TensorProto.FLOAT, list(s)) for n, s in outputs.items()],
        [numpy_helper.from_array(np.asarray(v), n) for n, v in (initializers or {}).items()])
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", opset)])
    model.ir_version = 7
    if check:
        onnx.checker.check_model(model)
    return model


def run_model(model, inputs):
    """Runs a ModelProto on arrays in its input order."""
    with tempfile.NamedTemporaryFile(suffix=".onnx") as f:
        f.write(model.SerializeToString())
        f.flush()
        return run_file(f.name, inputs)
