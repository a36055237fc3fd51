"""The int8 step of the model step: calibrates the convolution-heavy models on
pictures that the tests do not use, then keeps int8 for a model only where it
agrees with its float version on the test photos; otherwise the model stays in
float, and one line says so.

    quantize.py MODELDIR CALIBRATE_TOOL
"""
import math
import os
import subprocess
import sys
import tempfile

import cv2
import numpy as np

# Calibration pictures (Debian's darknet and opencv-doc), none of which a test reads.
CALIBRATION = [
    "/usr/share/darknet/data/eagle.jpg", "/usr/share/darknet/data/giraffe.jpg",
    "/usr/share/darknet/data/horses.jpg", "/usr/share/darknet/data/kite.jpg",
    "/usr/share/darknet/data/scream.jpg",
    "/usr/share/doc/opencv-doc/examples/data/baboon.jpg", "/usr/share/doc/opencv-doc/examples/data/building.jpg",
    "/usr/share/doc/opencv-doc/examples/data/home.jpg", "/usr/share/doc/opencv-doc/examples/data/basketball1.png",
    "/usr/share/doc/opencv-doc/examples/data/HappyFish.jpg",
]
# The test photos, on which int8 must agree with float.
CHECKS = [
    "/usr/lib/python3/dist-packages/skimage/data/astronaut.png",
    "/usr/lib/python3/dist-packages/skimage/data/chelsea.png",
    "/usr/lib/python3/dist-packages/skimage/data/coffee.png",
    "/usr/share/doc/opencv-doc/examples/data/messi5.jpg",
    "/usr/share/doc/opencv-doc/opencv4/html/handSrc.jpg",
    "/usr/share/darknet/data/person.jpg", "/usr/share/darknet/data/dog.jpg",
]


def rgb_planes(bgr, scale, shift):
    return (bgr[:, :, ::-1].astype(np.float32).transpose(2, 0, 1)[None] * scale + shift).astype(np.float32)


def squashed(bgr, side):
    return cv2.resize(bgr, (side, side), interpolation=cv2.INTER_AREA)


def letterboxed(bgr, side):
    h, w = bgr.shape[:2]
    f = side / max(h, w)
    inner = cv2.resize(bgr, (max(1, round(w * f)), max(1, round(h * f))), interpolation=cv2.INTER_AREA)
    out = np.zeros((side, side, 3), np.uint8)
    y, x = (side - inner.shape[0]) // 2, (side - inner.shape[1]) // 2
    out[y:y + inner.shape[0], x:x + inner.shape[1]] = inner
    return out


def fitted(bgr, width, height):
    """The picture scaled to fit width x height, centred on black (as the video matte places it)."""
    h, w = bgr.shape[:2]
    f = min(width / w, height / h)
    iw, ih = min(width, max(1, round(w * f))), min(height, max(1, round(h * f)))
    out = np.zeros((height, width, 3), np.uint8)
    y, x = (height - ih) // 2, (width - iw) // 2
    out[y:y + ih, x:x + iw] = cv2.resize(bgr, (iw, ih), interpolation=cv2.INTER_AREA)
    return out


def centre_square(bgr, side):
    h, w = bgr.shape[:2]
    s = min(h, w)
    return squashed(bgr[(h - s) // 2:(h - s) // 2 + s, (w - s) // 2:(w - s) // 2 + s], side)


def mask_agrees(f, q, least_iou=0.98, most_difference=2):
    """Masks: IoU at least 0.98 when cut at 0.5, mean absolute difference at most 2/255."""
    a, b = f[0] >= 0.5, q[0] >= 0.5
    union = (a | b).sum()
    iou = (a & b).sum() / union if union else 1.0
    mad = float(np.abs(f[0] - q[0]).mean()) * 255
    return iou >= least_iou and mad <= most_difference, f"IoU {iou:.3f}, mean difference {mad:.2f}/255"


def matte_agrees(f, q):
    """Person mattes: the same people (IoU at least 0.97 when cut at 0.5), soft
    edges within 4/255 on average. A hand's soft edge moves most: 2.5 to 2.8/255
    with half of the inputs kept in float."""
    return mask_agrees(f, q, 0.97, 4)


def peaks(heat, dist, floor=0.3):
    """CenterNet's detections: per-class 3x3 maxima of the heat maps, boxes from the distances."""
    c, h, w = heat.shape
    padded = np.pad(heat, ((0, 0), (1, 1), (1, 1)), constant_values=-1)
    best = np.max([padded[:, dy:dy + h, dx:dx + w] for dy in range(3) for dx in range(3)], axis=0)
    found = []
    for k, y, x in zip(*np.nonzero((heat >= best) & (heat >= floor))):
        l, t, r, b = dist[:, y, x]
        found.append((k, float(heat[k, y, x]), (x - l, y - t, x + r, y + b)))
    return found


def iou(a, b):
    ix = max(0.0, min(a[2], b[2]) - max(a[0], b[0]))
    iy = max(0.0, min(a[3], b[3]) - max(a[1], b[1]))
    inter = ix * iy
    union = (a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - inter
    return inter / union if union > 0 else 0.0


def detections_agree(f, q, cut=0.3, slack=0.05):
    """Detections: the same objects above the cut (one within the scores'
    slack of it may fall on either side), boxes with IoU at least 0.9, scores
    within 0.05."""
    a, b = peaks(f[0][0], f[1][0], cut - slack), peaks(q[0][0], q[1][0], cut - slack)
    worst_iou, worst_score, count = 1.0, 0.0, 0
    for one, other in ((a, b), (b, a)):
        for k, s, box in one:
            if s < cut:
                continue
            count += 1
            same = [o for o in other if o[0] == k and iou(box, o[2]) > 0.5]
            if not same:
                return False, f"an object of class {k} at {s:.2f} is in one version only"
            best = max(same, key=lambda o: iou(box, o[2]))
            worst_iou, worst_score = min(worst_iou, iou(box, best[2])), max(worst_score, abs(s - best[1]))
    return worst_iou >= 0.9 and worst_score <= 0.05, \
        f"{count // 2} objects, IoU at least {worst_iou:.3f}, scores within {worst_score:.3f}"


def landmarks_agree(f, q):
    """Hand landmarks: within 1% of the crop's side; presence within 0.05."""
    moved = float(np.abs(f[0].reshape(21, 3)[:, :2] - q[0].reshape(21, 3)[:, :2]).max()) / 224
    presence = abs(float(f[1].ravel()[0]) - float(q[1].ravel()[0]))
    return moved <= 0.01 and presence <= 0.05, f"joints within {moved * 100:.2f}% of the crop, presence {presence:.3f}"


# The shares of convolution inputs (percent) that the calibration tool's side
# files keep in float, the inputs int8 harms most first.
FLOAT_SHARES = [0, 10, 20, 35, 50]
# ISNet's inputs ranked by their effect on the map, finer near the bottom:
# by signal over noise alone it needed 35% in float, and int8 then gained
# only 1.24x over float.
FINE_SHARES = [0, 5, 10, 15, 20, 25, 35, 50]
# The person mattes' few percent in float cost a frame a reorder and a float
# convolution each: the finer steps at the bottom keep only what is needed.
MATTE_SHARES = [0, 3, 5, 10, 15, 20, 35, 50]

HAND = "/usr/share/doc/opencv-doc/opencv4/html/handSrc.jpg"
# The landmark model sees rotated crops around hands ("#crop x y side angle",
# in picture pixels, as the pipeline's crop turns them): it is calibrated on
# crops of another hand photo, turned and scaled about the crop the pipeline
# follows there, and checked on the crops it follows on the test photos.
OTHER_HAND = "/usr/share/doc/opencv-doc/opencv4/html/handDst.jpg"
HAND_CALIBRATION = [f"{OTHER_HAND}#crop 287.5 205.4 {873.3 * scale} {1.8783 + turn}"
                    for turn in (-0.6, -0.3, 0, 0.3, 0.6) for scale in (0.85, 1.0, 1.2)]
HAND_CHECKS = [f"{HAND}#crop 241.2 232.2 795.5 1.5254", f"{HAND}#mirrored#crop 398.8 232.2 795.5 1.6162",
               "/usr/share/doc/opencv-doc/examples/data/messi5.jpg#crop 360.1 166.7 55.7 1.5997"]
# name: input from a picture, output shapes, agreement, the check photos and,
# optionally, how the calibration tool ranks the inputs, the float shares and
# the calibration pictures (CALIBRATION unless told)
MODELS = {
    # Each convolution input's effect on the map is measured alone (about
    # 150 networks on the calibration pictures: a few minutes).
    "isnet_256": (lambda im: rgb_planes(squashed(im, 256), 1 / 256, -0.5), [(1, 1, 256, 256)], mask_agrees, CHECKS,
                  "effect", FINE_SHARES),
    # CenterNet agrees in int8 only with half of its convolution inputs kept
    # in float, and then runs no faster than float (25 against 27 ms on two
    # cores): it stays float until a finer calibration keeps more in int8.
    # The landmark model reads hands only: its checks are hand crops.
    "hand_landmark_full": (lambda im: rgb_planes(centre_square(im, 224), 1 / 255, 0), [(1, 63), (1, 1)],
                           landmarks_agree, HAND_CHECKS, "snr", None, HAND_CALIBRATION),
    # The cheaper person-matte levels; the calibration tool runs each picture
    # as a three-frame stream. Ranked by effect: by noise alone the decoder's
    # convolutions, most of a frame's work, stayed float, though int8 there
    # barely moves the matte. The accurate level and the cutout stay float.
    "rvm_480x270_r50": (lambda im: rgb_planes(fitted(im, 480, 270), 1 / 255, 0), [(1, 1, 270, 480)],
                        matte_agrees, CHECKS, "effect", MATTE_SHARES),
    "rvm_320x180_r65": (lambda im: rgb_planes(fitted(im, 320, 180), 1 / 255, 0), [(1, 1, 180, 320)],
                        matte_agrees, CHECKS, "effect", MATTE_SHARES),
}


def hand_crop(image, x, y, side, angle, size=224):
    """The square the pipeline's rotated crop reads (cropTransform at pixel centres)."""
    k = size / side
    a, b = math.cos(angle) * k, math.sin(angle) * k
    tx, ty = size / 2 - (a * x + b * y), size / 2 - (-b * x + a * y)
    warp = np.array([[a, b, (a + b) / 2 + tx - 0.5], [-b, a, (a - b) / 2 + ty - 0.5]])
    return cv2.warpAffine(image, warp, (size, size), flags=cv2.INTER_LINEAR)


def picture(path):
    """A picture by its name: a file, then "#mirrored" and "#crop x y side angle" in that order."""
    parts = path.split("#")
    image = cv2.imread(parts[0], cv2.IMREAD_COLOR)
    if image is None:
        sys.exit(f"models: can't read the picture {parts[0]}")
    for part in parts[1:]:
        if part == "mirrored":
            image = image[:, ::-1].copy()
        elif part.startswith("crop "):
            image = hand_crop(image, *map(float, part.split()[1:]))
    return image


def quantize(folder, tool, name, prepare, shapes, agrees, checked, rank="snr", shares=None, calibrated=CALIBRATION):
    shares = shares or FLOAT_SHARES
    model = os.path.join(folder, name + ".onnx")
    side, stays = os.path.join(folder, name + ".int8"), os.path.join(folder, name + ".float")
    newest = max(os.path.getmtime(p) for p in (model, tool, __file__))
    for done in (side, stays):
        if os.path.exists(done) and os.path.getmtime(done) > newest:
            return
    for stale in (side, stays):
        if os.path.exists(stale):
            os.remove(stale)
    with tempfile.TemporaryDirectory() as work:
        def write(paths, tag):
            files = []
            for k, path in enumerate(paths):
                files.append(os.path.join(work, f"{tag}{k}.f32"))
                prepare(picture(path)).tofile(files[-1])
            return files
        calibration, checks = write(calibrated, "calibration"), write(checked, "check")
        if rank == "effect":
            print(f"models: {name}: measuring each convolution input's effect in int8 (a few minutes)")
        result = subprocess.run([tool, model, os.path.join(work, "side"), work, "--rank", rank,
                                 "--float", ",".join(map(str, shares))] + calibration + ["--"] + checks,
                                capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"models: {name}: {result.stderr.strip()}")

        def outputs(kind, k):
            return [np.fromfile(os.path.join(work, f"{kind}-{k}-{j}.f32"), np.float32).reshape(s)
                    for j, s in enumerate(shapes)]
        # The side files keep more and more convolution inputs in float: the
        # first that agrees on every check photo is kept.
        share = 0
        while os.path.exists(os.path.join(work, f"side.{share}")):
            failure = None
            for k in range(len(checks)):
                ok, why = agrees(outputs("float", k), outputs(f"int8{share}", k))
                if not ok:
                    failure = f"on {os.path.basename(checked[k])}: {why}"
                    break
            if failure is None:
                os.replace(os.path.join(work, f"side.{share}"), side)
                print(f"models: {name} runs in int8 ({shares[share]}% of its convolution inputs kept in float)")
                return
            share += 1
        with open(stays, "w") as f:
            f.write(f"stays in float: {failure}\n")
        print(f"models: {name} stays in float ({failure})")


def main():
    folder, tool = sys.argv[1], sys.argv[2]
    for name, entry in MODELS.items():
        quantize(folder, tool, name, *entry)


if __name__ == "__main__":
    main()
