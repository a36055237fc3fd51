"""The float16 converter on small graphs shaped like the shipped ISNet."""
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

TOOLS = os.environ.get("KESTREL_TOOLS", os.path.join(os.path.dirname(__file__), "../../tools/convert"))
sys.path.insert(0, TOOLS)
import onnx_fp16  # noqa: E402

import cv2  # python3-opencv, which the set-up installs

BASE = 64


def const(name, values):
    arr = np.array(values, dtype=np.int64)
    return helper.make_node("Constant", [], [name], value=numpy_helper.from_array(arr, name + "_v"))


def isnet_like(resize_to=(128, 128), aux=True):
    """float32 in -> Cast to half -> 1x1 Conv -> Relu -> Resize to a baked size
    (through float casts, sizes = Shape[0:2] ++ constant) -> Conv -> Cast out."""
    rng = np.random.default_rng(1)
    w1 = rng.normal(size=(4, 3, 1, 1)).astype(np.float16)
    w2 = rng.normal(size=(1, 4, 1, 1)).astype(np.float16)
    b2 = np.array([0.25], dtype=np.float16)
    nodes = [
        helper.make_node("Cast", ["input"], ["x16"], to=TensorProto.FLOAT16),
        helper.make_node("Conv", ["x16", "w1"], ["c1"], kernel_shape=[1, 1]),
        helper.make_node("Relu", ["c1"], ["r1"]),
        helper.make_node("Shape", ["r1"], ["shape"]),
        const("zero", [0]), const("two", [2]),
        helper.make_node("Slice", ["shape", "zero", "two", "zero"], ["nc"]),
        const("hw", list(resize_to)),
        helper.make_node("Concat", ["nc", "hw"], ["sizes"], axis=0),
        helper.make_node("Cast", ["r1"], ["r1f"], to=TensorProto.FLOAT),
        helper.make_node("Resize", ["r1f", "", "", "sizes"], ["up_f"], mode="linear",
                         coordinate_transformation_mode="half_pixel"),
        helper.make_node("Cast", ["up_f"], ["up"], to=TensorProto.FLOAT16),
        helper.make_node("Conv", ["up", "w2", "b2"], ["c2"], kernel_shape=[1, 1]),
        helper.make_node("Cast", ["c2"], ["output"], to=TensorProto.FLOAT),
    ]
    outputs = [helper.make_tensor_value_info("output", TensorProto.FLOAT, [1, 1, 2 * BASE, 2 * BASE])]
    if aux:
        w3 = rng.normal(size=(1, 4, 1, 1)).astype(np.float16)
        nodes += [helper.make_node("Conv", ["r1", "w3"], ["c3"], kernel_shape=[1, 1]),
                  helper.make_node("Sigmoid", ["c3"], ["s3"]),
                  helper.make_node("Cast", ["s3"], ["aux"], to=TensorProto.FLOAT)]
        outputs.append(helper.make_tensor_value_info("aux", TensorProto.FLOAT, [1, 1, BASE, BASE]))
    inits = [numpy_helper.from_array(w1, "w1"), numpy_helper.from_array(w2, "w2"),
             numpy_helper.from_array(b2, "b2")]
    if aux:
        inits.append(numpy_helper.from_array(w3, "w3"))
    graph = helper.make_graph(
        nodes, "isnet_like",
        [helper.make_tensor_value_info("input", TensorProto.FLOAT, [1, 3, BASE, BASE])],
        outputs, inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 15)])
    onnx.checker.check_model(model)
    return model, (w1, w2, b2)


def reference(x, weights):
    """The graph in numpy at float32, for inputs whose resize is an exact 2x."""
    w1, w2, b2 = (w.astype(np.float32) for w in weights)
    r1 = np.maximum(np.einsum("oc,nchw->nohw", w1[:, :, 0, 0], x), 0)
    return r1, np.einsum("oc,nchw->nohw", w2[:, :, 0, 0], r1) + b2[None, :, None, None]


class Float32(unittest.TestCase):
    def test_weights_and_types_become_float32_with_the_same_values(self):
        model, (w1, _, _) = isnet_like()
        onnx_fp16.convert(model)
        g = model.graph
        self.assertTrue(all(t.data_type == TensorProto.FLOAT for t in g.initializer))
        got = {t.name: numpy_helper.to_array(t) for t in g.initializer}
        np.testing.assert_array_equal(got["w1"], w1.astype(np.float32))
        for vi in list(g.input) + list(g.output):
            self.assertEqual(vi.type.tensor_type.elem_type, TensorProto.FLOAT)

    def test_float_casts_go_and_outputs_keep_their_names(self):
        model, _ = isnet_like()
        onnx_fp16.convert(model)
        g = model.graph
        self.assertEqual([n for n in g.node if n.op_type == "Cast"], [])
        self.assertEqual([o.name for o in g.output], ["output", "aux"])
        produced = {o for n in g.node for o in n.output}
        self.assertIn("output", produced)
        self.assertIn("aux", produced)
        # The first Conv now reads the graph input itself.
        conv = next(n for n in g.node if n.op_type == "Conv")
        self.assertEqual(conv.input[0], "input")

    def test_casts_to_integers_stay(self):
        model, _ = isnet_like()
        g = model.graph
        g.node.append(helper.make_node("Cast", ["shape"], ["shape_i32"], to=TensorProto.INT32))
        g.output.append(helper.make_tensor_value_info("shape_i32", TensorProto.INT32, [4]))
        onnx_fp16.convert(model)
        casts = [n for n in model.graph.node if n.op_type == "Cast"]
        self.assertEqual(len(casts), 1)
        self.assertEqual(casts[0].output[0], "shape_i32")


class Sizes(unittest.TestCase):
    def sizes_constant(self, model):
        node = next(n for n in model.graph.node if n.op_type == "Constant" and n.output[0] == "hw")
        return numpy_helper.to_array(node.attribute[0].t).tolist()

    def test_baked_resize_sizes_and_declared_shapes_scale(self):
        model, _ = isnet_like()
        onnx_fp16.convert(model, size=32, base=BASE)
        self.assertEqual(self.sizes_constant(model), [64, 64])
        dims = [d.dim_value for d in model.graph.input[0].type.tensor_type.shape.dim]
        self.assertEqual(dims, [1, 3, 32, 32])
        # The slice constants of the shape path are left alone.
        zero = next(n for n in model.graph.node if n.output[0] == "zero")
        self.assertEqual(numpy_helper.to_array(zero.attribute[0].t).tolist(), [0])

    def test_sizes_given_as_an_initialiser_scale_too(self):
        model, _ = isnet_like()
        g = model.graph
        resize = next(n for n in g.node if n.op_type == "Resize")
        g.initializer.append(numpy_helper.from_array(np.array([1, 4, 128, 128], np.int64), "fixed"))
        resize.input[3] = "fixed"
        onnx_fp16.convert(model, size=16, base=BASE)
        fixed = next(t for t in model.graph.initializer if t.name == "fixed")
        self.assertEqual(numpy_helper.to_array(fixed).tolist(), [1, 4, 32, 32])

    def test_a_size_that_does_not_scale_to_whole_pixels_is_refused(self):
        model, _ = isnet_like(resize_to=(30, 30))
        with self.assertRaises(ValueError):
            onnx_fp16.convert(model, size=48, base=BASE)


class Keep(unittest.TestCase):
    def test_only_the_kept_output_and_what_feeds_it_remain(self):
        model, _ = isnet_like()
        onnx_fp16.convert(model, keep=["output"])
        g = model.graph
        self.assertEqual([o.name for o in g.output], ["output"])
        self.assertNotIn("Sigmoid", [n.op_type for n in g.node])
        self.assertNotIn("w3", [t.name for t in g.initializer])

    def test_an_unknown_output_is_refused(self):
        model, _ = isnet_like()
        with self.assertRaises(ValueError):
            onnx_fp16.convert(model, keep=["nope"])


class CommandLine(unittest.TestCase):
    def run_tool(self, *args):
        return subprocess.run([sys.executable, os.path.join(TOOLS, "onnx_fp16.py"), *args],
                              capture_output=True, text=True)

    def test_converts_a_file_and_fails_in_one_line_on_a_bad_one(self):
        with tempfile.TemporaryDirectory() as d:
            model, _ = isnet_like()
            src, dst = os.path.join(d, "in.onnx"), os.path.join(d, "out.onnx")
            onnx.save(model, src)
            r = self.run_tool(src, dst, "--size", "32", "--base", str(BASE), "--keep", "output")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stderr, "")
            onnx.checker.check_model(onnx.load(dst))
            bad = os.path.join(d, "bad.onnx")
            with open(bad, "wb") as f:
                f.write(b"not a model")
            r = self.run_tool(bad, os.path.join(d, "x.onnx"))
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stderr, "onnx_fp16: %s is not an ONNX model\n" % bad)
            self.assertFalse(os.path.exists(os.path.join(d, "x.onnx")))


class LoadsInOpenCV(unittest.TestCase):
    def test_converted_model_runs_at_the_smaller_size_and_matches_numpy(self):
        model, weights = isnet_like(aux=False)
        onnx_fp16.convert(model, size=32, base=BASE, keep=["output"])
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "m.onnx")
            onnx.save(model, path)
            net = cv2.dnn.readNetFromONNX(path)
        x = np.random.default_rng(2).uniform(-1, 1, size=(1, 3, 32, 32)).astype(np.float32)
        net.setInput(x)
        out = net.forward()
        self.assertEqual(out.shape, (1, 1, 64, 64))
        # Away from the borders a 2x linear resize of a 1x1 conv commutes with it.
        _, ref = reference(x, weights)
        up = cv2.resize(ref[0, 0], (64, 64), interpolation=cv2.INTER_LINEAR)
        np.testing.assert_allclose(out[0, 0, 2:-2, 2:-2], up[2:-2, 2:-2], rtol=1e-4, atol=1e-4)


if __name__ == "__main__":
    unittest.main()
