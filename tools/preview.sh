#!/usr/bin/env bash
# preview.sh PICTURE.png OUT_PREFIX: enlarged views of a picture for a person to
# look at: as drawn, and as the shell shows it through the inverting blend on its
# black and its dark red (0.4, 0, 0) backgrounds, at 1x and 16x.
set -euo pipefail
pic=$1 out=$2
convert "$pic" -colorspace sRGB -type TrueColor "$out-plain.png"
# src*(1-dst) + dst*(1-src), dst being the background colour.
convert "$pic" -colorspace sRGB -type TrueColor -fx "u*(1-0) + 0*(1-u)" "$out-black.png"
convert "$pic" -colorspace sRGB -type TrueColor \
  -channel R -fx "u*(1-0.4) + 0.4*(1-u)" -channel GB -fx "u" +channel "$out-red.png"
for v in plain black red; do
  convert "$out-$v.png" -filter point -resize 1600% "$out-$v-big.png"
done
convert "$out-plain-big.png" "$out-black-big.png" "$out-red-big.png" +append "$out-all-big.png"
