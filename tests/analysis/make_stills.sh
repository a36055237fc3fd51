#!/bin/sh
# make_stills.sh OUT: a 1080p30 slideshow of photos Debian ships, one second
# each: people small and large, animals, a hand, a head 45 pixels high.
# Encoded on one thread so that every run makes the same file.
D=/usr/share/doc/opencv-doc/examples/data; K=/usr/share/darknet/data; S=/usr/lib/python3/dist-packages/skimage/data
H=/usr/share/doc/opencv-doc/opencv4/html/handSrc.jpg
fit='scale=1920:1080:force_original_aspect_ratio=decrease,pad=1920:1080:(ow-iw)/2:(oh-ih)/2,setsar=1,format=yuv420p'
nat='pad=1920:1080:(ow-iw)/2:(oh-ih)/2,setsar=1,format=yuv420p'
ffmpeg -nostdin -v error -y \
  -loop 1 -framerate 30 -t 1 -i $K/kite.jpg -loop 1 -framerate 30 -t 1 -i $K/person.jpg \
  -loop 1 -framerate 30 -t 1 -i $D/messi5.jpg -loop 1 -framerate 30 -t 1 -i $S/astronaut.png \
  -loop 1 -framerate 30 -t 1 -i $S/chelsea.png -loop 1 -framerate 30 -t 1 -i $K/dog.jpg \
  -loop 1 -framerate 30 -t 1 -i $H -loop 1 -framerate 30 -t 1 -i $S/coffee.png \
  -filter_complex "[0]$fit[a];[1]$nat[b];[2]$nat[c];[3]$fit[d];[4]$fit[e];[5]$fit[f];[6]$fit[g];\
[3]crop=230:220:110:40,scale=99:94[head];[7]scale=1920:1080,setsar=1[bg];[bg][head]overlay=1300:700,format=yuv420p[h];\
[a][b][c][d][e][f][g][h]concat=n=8:v=1:a=0[v]" \
  -map '[v]' -r 30 -c:v libx264 -threads 1 -pix_fmt yuv420p "$1"
