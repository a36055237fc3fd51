# Hands: MediaPipe's palm detector and hand landmark model (full variants),
# TFLite files of @mediapipe/hands converted to ONNX.
pkg="$CACHE/mediapipe-hands-0.4.1675469240.tgz.d/package"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The palm detector is packed into the assets file; the loader script gives
# its byte range as "start" and "end".
range="$(grep -o '"filename": "[^"]*/palm_detection_full.tflite", "start": [0-9]*, "end": [0-9]*' \
  "$pkg/hands_solution_packed_assets_loader.js" | grep -o '[0-9]*, "end": [0-9]*' | tr -dc '0-9 ')" \
  || die "hands: no palm_detection_full.tflite in the packed assets loader"
read -r start end <<<"$range"
dd if="$pkg/hands_solution_packed_assets.data" of="$work/palm_detection_full.tflite" \
  iflag=skip_bytes,count_bytes skip="$start" count="$((end - start))" status=none
check_file "$work/palm_detection_full.tflite" 2f25e740121983f68ffc05f99991d524dc0ea812134f6316a26125816941ee85
check_file "$pkg/hand_landmark_full.tflite" 8c026882c9ec059ce0f8e75266bee5a9a23c341a40e0000df755374d3d1b9b68

"$PYTHON" "$TOOLS/convert/tflite2onnx.py" "$work/palm_detection_full.tflite" "$OUT/palm_detection_full.onnx"
"$PYTHON" "$TOOLS/convert/tflite2onnx.py" "$pkg/hand_landmark_full.tflite" "$OUT/hand_landmark_full.onnx"
