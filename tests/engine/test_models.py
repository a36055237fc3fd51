"""The shipped models on the executor against OpenCV's DNN module, on real
photos that Debian packages ship, preprocessed as the vision modules do it.

OpenCV reads each model through onnx_build.opencv_view (its importer takes
Clip's bounds only as attributes). The two engines sum in different orders,
so the outputs differ by float32 rounding grown through the network's depth;
a layout or fusion mistake moves them by a good part of their range. Each
output of the float executor must stay within the model's stated share of its
largest magnitude. Where the model step left an int8 side file (the
convolutions then run on 8-bit inputs), the executor as shipped is checked
too, on its mean difference, which quantisation keeps small and a mistake
does not."""
import os
import sys
import tempfile
import unittest

import cv2
import numpy as np
import onnx

from engine_run import run_file

sys.path.insert(0, os.environ.get("KESTREL_TOOLS", os.path.join(os.path.dirname(__file__), "../../tools/convert")))
import onnx_build  # noqa: E402

MODELS = os.environ.get("KESTREL_MODEL_DIR", os.path.join(os.path.dirname(__file__), "../../build/models"))
SKIMAGE = "/usr/lib/python3/dist-packages/skimage/data/"
OPENCV = "/usr/share/doc/opencv-doc/examples/data/"
DARKNET = "/usr/share/darknet/data/"
HAND = "/usr/share/doc/opencv-doc/opencv4/html/handSrc.jpg"

# Largest difference allowed, as a share of the output's largest magnitude:
# about ten times what was seen (the sigmoid mattes of RVM and Selfie, made
# of the most layers, drift the most).
TOLERANCE = {
    "blazeface_back_256.onnx": 2e-5,
    "facemesh.onnx": 1e-5,
    "iris.onnx": 1e-5,
    "palm_detection_full.onnx": 2e-5,
    "hand_landmark_full.onnx": 4e-5,
    "centernet.onnx": 1e-4,
    "person_selfie.onnx": 2e-4,
    "person_meet.onnx": 4e-5,
    "isnet_256.onnx": 1e-5,
    "rvm_640x360.onnx": 3e-3,
}
# With an int8 side file: the mean difference allowed, as a share of the
# largest magnitude (seen: CenterNet 0.0002 on the heat maps and 0.02 on
# the box sizes, ISNet 0.005).
INT8_MEAN_TOLERANCE = {"centernet.onnx": 0.04, "isnet_256.onnx": 0.01, "hand_landmark_full.onnx": 0.01}
# The outputs the system reads, where it leaves some unread (the hand's world
# coordinates and handedness): only those must hold in int8.
READ_OUTPUTS = {"hand_landmark_full.onnx": ("Identity", "Identity_1")}


def photo(path):
    """The set-up installs every photo: a missing one fails the test."""
    image = cv2.imread(path, cv2.IMREAD_COLOR)
    if image is None:
        raise AssertionError("photo %s is missing: run ./setup" % path)
    return image


def planes(bgr, scale, shift):
    """RGB planes, channels first, v * scale + shift (writePicture)."""
    rgb = cv2.cvtColor(bgr, cv2.COLOR_BGR2RGB).astype(np.float32)
    return (rgb * scale + shift).transpose(2, 0, 1)[None].copy()


def letterbox(bgr, side):
    """The picture fitted into a black square, centred (letterboxImage)."""
    h, w = bgr.shape[:2]
    k = side / max(w, h)
    iw, ih = min(max(round(w * k), 1), side), min(max(round(h * k), 1), side)
    square = np.zeros((side, side, 3), np.uint8)
    x, y = (side - iw) // 2, (side - ih) // 2
    square[y:y + ih, x:x + iw] = cv2.resize(bgr, (iw, ih), interpolation=cv2.INTER_AREA if iw < w else cv2.INTER_LINEAR)
    return square


def crop(bgr, x, y, side, size):
    """The square side x side at (x, y) scaled to size x size, bilinear (affineCrop)."""
    k = size / side
    m = np.array([[k, 0, -x * k], [0, k, -y * k]])
    return cv2.warpAffine(bgr, m, (size, size), flags=cv2.INTER_LINEAR, borderValue=(0, 0, 0))


def frame_640x360(bgr, shift=0):
    """The photo scaled to 360 rows and centred on a black 640 x 360 frame."""
    h, w = bgr.shape[:2]
    nw = round(w * 360 / h)
    frame = np.zeros((360, 640, 3), np.uint8)
    x = (640 - nw) // 2 + shift
    frame[:, x:x + nw] = cv2.resize(bgr, (nw, 360), interpolation=cv2.INTER_AREA)
    return frame


class ModelsTest(unittest.TestCase):
    def model(self, name):
        path = os.path.join(MODELS, name)
        if not os.path.exists(path):
            self.fail("%s is missing: run ./setup" % path)
        return path

    def opencv(self, path, inputs, outputs):
        net = cv2.dnn.readNetFromONNX(onnx_build.opencv_view(onnx.load(path)).SerializeToString())
        for name, value in inputs.items():
            net.setInput(value, name)
        return dict(zip(outputs, net.forward(outputs)))

    def compare(self, name, inputs, label, outputs=None):
        """inputs: {name: array} in the model's input order. Returns the executor's outputs."""
        path = self.model(name)
        ours = run_file(path, list(inputs.values()))
        theirs = self.opencv(path, inputs, outputs or list(ours))
        shipped = run_file(path, list(inputs.values()), int8=True) if os.path.exists(path[:-5] + ".int8") else None
        for out, want in theirs.items():
            got = ours[out]
            self.assertEqual(got.size, want.size, "%s %s %s" % (name, label, out))
            want = want.reshape(got.shape)
            scale = max(float(np.abs(want).max()), 1e-6)
            err = float(np.abs(got - want).max())
            self.assertLessEqual(err, TOLERANCE[name] * scale,
                                 "%s on %s, output %s: %.3g off, largest %.3g" % (name, label, out, err, scale))
            if shipped is not None and out in READ_OUTPUTS.get(name, (out,)):
                mean = float(np.abs(shipped[out] - want).mean())
                self.assertLessEqual(mean, INT8_MEAN_TOLERANCE[name] * scale,
                                     "%s in int8 on %s, output %s: %.3g off on average, largest %.3g" %
                                     (name, label, out, mean, scale))
        return ours

    def test_detectors_and_landmarks(self):
        astronaut = photo(SKIMAGE + "astronaut.png")
        hand = photo(HAND)
        cases = [
            ("blazeface_back_256.onnx", "astronaut",
             {"input:0": (cv2.cvtColor(cv2.resize(astronaut, (256, 256), interpolation=cv2.INTER_AREA),
                                       cv2.COLOR_BGR2RGB).astype(np.float32) / 127.5 - 1)[None]}),
            ("blazeface_back_256.onnx", "messi",
             {"input:0": (cv2.cvtColor(letterbox(photo(OPENCV + "messi5.jpg"), 256),
                                       cv2.COLOR_BGR2RGB).astype(np.float32) / 127.5 - 1)[None]}),
            ("facemesh.onnx", "the astronaut's face", {"input_1": planes(crop(astronaut, 122, 5, 200, 192), 1 / 255, 0)}),
            ("iris.onnx", "the astronaut's right eye", {"input_1": planes(crop(astronaut, 176, 73, 44, 64), 1 / 255, 0)}),
            ("iris.onnx", "the astronaut's left eye", {"input_1": planes(crop(astronaut, 224, 73, 44, 64), 1 / 255, 0)}),
            ("palm_detection_full.onnx", "a hand", {"input_1": planes(letterbox(hand, 192), 1 / 255, 0)}),
            ("palm_detection_full.onnx", "the astronaut", {"input_1": planes(letterbox(astronaut, 192), 1 / 255, 0)}),
            ("hand_landmark_full.onnx", "a hand", {"input_1": planes(crop(hand, 60, 0, 480, 224), 1 / 255, 0)}),
            ("centernet.onnx", "a dog, a bicycle and a truck", {"tower_0/images": planes(letterbox(photo(DARKNET + "dog.jpg"), 512), 1, 0)}),
            ("centernet.onnx", "people and a horse", {"tower_0/images": planes(letterbox(photo(DARKNET + "person.jpg"), 512), 1, 0)}),
        ]
        for name, label, inputs in cases:
            with self.subTest(name, photo=label):
                self.compare(name, inputs, label)

    def test_segmentation(self):
        stretched = lambda path, w, h: cv2.resize(photo(path), (w, h), interpolation=cv2.INTER_AREA)
        cases = [
            ("person_selfie.onnx", "people and a horse", {"input_1": planes(stretched(DARKNET + "person.jpg", 256, 256), 1 / 255, 0)}),
            ("person_selfie.onnx", "the astronaut", {"input_1": planes(stretched(SKIMAGE + "astronaut.png", 256, 256), 1 / 255, 0)}),
            ("person_meet.onnx", "messi", {"input_1": planes(stretched(OPENCV + "messi5.jpg", 256, 144), 1 / 255, 0)}),
            ("person_meet.onnx", "the astronaut", {"input_1": planes(stretched(SKIMAGE + "astronaut.png", 256, 144), 1 / 255, 0)}),
            ("isnet_256.onnx", "a cat", {"input": planes(stretched(SKIMAGE + "chelsea.png", 256, 256), 1 / 256, -0.5)}),
        ]
        for name, label, inputs in cases:
            with self.subTest(name, photo=label):
                self.compare(name, inputs, label)

    def test_video_matting_with_its_states_fed_back(self):
        name = "rvm_640x360.onnx"
        states = {"r1i": (1, 16, 90, 160), "r2i": (1, 20, 45, 80), "r3i": (1, 40, 23, 40), "r4i": (1, 64, 12, 20)}
        astronaut = photo(SKIMAGE + "astronaut.png")
        inputs = {k: np.zeros(s, np.float32) for k, s in states.items()}
        inputs["src"] = planes(frame_640x360(astronaut), 1 / 255, 0)
        outputs = ["pha", "r1o", "r2o", "r3o", "r4o"]
        first = self.compare(name, inputs, "the astronaut, first frame", outputs)
        # The second frame, moved a little, with the executor's own states:
        # both engines then start from the same numbers.
        for k in states:
            inputs[k] = first[k[:2] + "o"]
        inputs["src"] = planes(frame_640x360(astronaut, shift=6), 1 / 255, 0)
        second = self.compare(name, inputs, "the astronaut, second frame", outputs)
        self.assertGreater(float(np.abs(second["r4o"] - first["r4o"]).max()), 0.0)


if __name__ == "__main__":
    unittest.main()
