"""ONNX operators written out in NumPy (float64), from the operators' own
definitions, as the reference the executor is checked against."""
import itertools
import math

import numpy as np


def _pad4(x, pads, value=0.0):
    """pads in ONNX order for the two spatial axes: top, left, bottom, right."""
    t, l, b, r = pads
    return np.pad(x, ((0, 0), (0, 0), (t, b), (l, r)), constant_values=value)


def conv(x, w, b=None, strides=(1, 1), pads=(0, 0, 0, 0), dilations=(1, 1), group=1):
    x = _pad4(np.asarray(x, np.float64), pads)
    n, _, h, wd = x.shape
    m, cg, kh, kw = w.shape
    oh = (h - (kh - 1) * dilations[0] - 1) // strides[0] + 1
    ow = (wd - (kw - 1) * dilations[1] - 1) // strides[1] + 1
    out = np.zeros((n, m, oh, ow))
    mg = m // group
    for g in range(group):
        xs = x[:, g * cg:(g + 1) * cg]
        for i, j in itertools.product(range(kh), range(kw)):
            y0, x0 = i * dilations[0], j * dilations[1]
            patch = xs[:, :, y0:y0 + (oh - 1) * strides[0] + 1:strides[0], x0:x0 + (ow - 1) * strides[1] + 1:strides[1]]
            out[:, g * mg:(g + 1) * mg] += np.einsum("nchw,mc->nmhw", patch, w[g * mg:(g + 1) * mg, :, i, j])
    if b is not None:
        out += np.asarray(b).reshape(1, -1, 1, 1)
    return out


def same_pads(size, kernel, stride, dilation, upper):
    """auto_pad SAME_UPPER / SAME_LOWER for one axis: (begin, end)."""
    out = -(-size // stride)
    total = max(0, (out - 1) * stride + (kernel - 1) * dilation + 1 - size)
    small = total // 2
    return (small, total - small) if upper else (total - small, small)


def conv_transpose(x, w, b=None, strides=(1, 1), pads=(0, 0, 0, 0), dilations=(1, 1), group=1,
                   output_padding=(0, 0)):
    x = np.asarray(x, np.float64)
    n, c, h, wd = x.shape
    _, mg, kh, kw = w.shape
    cg = c // group
    fh = (h - 1) * strides[0] + (kh - 1) * dilations[0] + 1 + output_padding[0]
    fw = (wd - 1) * strides[1] + (kw - 1) * dilations[1] + 1 + output_padding[1]
    full = np.zeros((n, mg * group, fh, fw))
    for g in range(group):
        xs = x[:, g * cg:(g + 1) * cg]
        for i, j in itertools.product(range(kh), range(kw)):
            y0, x0 = i * dilations[0], j * dilations[1]
            full[:, g * mg:(g + 1) * mg, y0:y0 + (h - 1) * strides[0] + 1:strides[0],
                 x0:x0 + (wd - 1) * strides[1] + 1:strides[1]] += \
                np.einsum("nchw,cm->nmhw", xs, w[g * cg:(g + 1) * cg, :, i, j])
    out = full[:, :, pads[0]:fh - pads[2], pads[1]:fw - pads[3]]
    if b is not None:
        out = out + np.asarray(b).reshape(1, -1, 1, 1)
    return out


def pool(x, kind, kernel, strides=(1, 1), pads=(0, 0, 0, 0), ceil_mode=False, count_include_pad=False):
    """MaxPool / AveragePool. Where ceil mode's last window reaches past the
    end pad, readings differ (PyTorch, OpenCV and oneDNN count that part
    differently with count_include_pad): the tests avoid that case."""
    x = np.asarray(x, np.float64)
    n, c, h, w = x.shape
    size = []
    for axis, length in enumerate((h, w)):
        span = length + pads[axis] + pads[axis + 2] - kernel[axis]
        o = span // strides[axis] + 1
        if ceil_mode and span % strides[axis]:
            o += 1
        size.append(o)
    out = np.zeros((n, c, size[0], size[1]))
    for oy, ox in itertools.product(range(size[0]), range(size[1])):
        y0, x0 = oy * strides[0] - pads[0], ox * strides[1] - pads[1]
        y1, x1 = y0 + kernel[0], x0 + kernel[1]
        window = x[:, :, max(y0, 0):min(y1, h), max(x0, 0):min(x1, w)]
        if kind == "max":
            out[:, :, oy, ox] = window.max(axis=(2, 3))
        else:
            if count_include_pad:
                count = (min(y1, h + pads[2]) - y0) * (min(x1, w + pads[3]) - x0)
            else:
                count = window.shape[2] * window.shape[3]
            out[:, :, oy, ox] = window.sum(axis=(2, 3)) / count
    return out


def _source_coordinate(o, in_len, out_len, scale, transform):
    if transform == "align_corners":
        return o * (in_len - 1) / (out_len - 1) if out_len > 1 else 0.0
    if transform == "asymmetric":
        return o / scale
    if transform == "pytorch_half_pixel":
        return (o + 0.5) / scale - 0.5 if out_len > 1 else 0.0
    if transform == "tf_half_pixel_for_nn":
        return (o + 0.5) / scale
    return (o + 0.5) / scale - 0.5  # half_pixel


def _nearest(v, mode):
    if mode == "floor":
        return math.floor(v)
    if mode == "ceil":
        return math.ceil(v)
    if v - math.floor(v) == 0.5:
        return math.floor(v) if mode == "round_prefer_floor" else math.ceil(v)
    return math.floor(v + 0.5)


def _resize_axis(x, axis, out_len, scale, mode, transform, nearest_mode):
    in_len = x.shape[axis]
    parts = []
    for o in range(out_len):
        v = _source_coordinate(o, in_len, out_len, scale, transform)
        if mode == "nearest":
            i = min(max(_nearest(v, nearest_mode), 0), in_len - 1)
            parts.append(np.take(x, [i], axis=axis))
        else:
            v = min(max(v, 0.0), in_len - 1.0)
            lo = int(math.floor(v))
            hi = min(lo + 1, in_len - 1)
            f = v - lo
            parts.append(np.take(x, [lo], axis=axis) * (1 - f) + np.take(x, [hi], axis=axis) * f)
    return np.concatenate(parts, axis=axis)


def resize(x, out_hw, scales_hw, mode, transform, nearest_mode="round_prefer_floor"):
    x = np.asarray(x, np.float64)
    x = _resize_axis(x, 2, out_hw[0], scales_hw[0], mode, transform, nearest_mode)
    return _resize_axis(x, 3, out_hw[1], scales_hw[1], mode, transform, nearest_mode)


def softmax(x, axis):
    e = np.exp(x - x.max(axis=axis, keepdims=True))
    return e / e.sum(axis=axis, keepdims=True)


def softmax_flattened(x, axis):
    """Opsets before 13: the input seen as 2-d at axis."""
    flat = x.reshape(int(np.prod(x.shape[:axis])), -1)
    return softmax(flat, 1).reshape(x.shape)


def sigmoid(x):
    return 1 / (1 + np.exp(-x))


def prelu(x, slope):
    return np.where(x >= 0, x, x * slope)


def hardswish(x):
    return x * np.clip(x / 6 + 0.5, 0, 1)
