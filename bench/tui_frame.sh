#!/bin/sh
# The terminal GUI's frame benchmark (bench/tui_frame.cpp): time and bytes
# written per frame for a window of 200 widgets redrawn every frame. Run
# after `make build`; BUILD_DIR selects the build directory.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
c++ -std=c++20 -O2 -Isrc -I"$BUILD_DIR/generated" bench/tui_frame.cpp $(cat "$BUILD_DIR/kel-archives.txt") \
  -pthread -ldl -o "$WORK/tui_frame"
"$WORK/tui_frame"
# The same frames with real faces through the terminal platform (the
# booted runtime, so the boot image is linked too).
c++ -std=c++20 -O2 -Isrc -I"$BUILD_DIR/generated" bench/tui_widget_frame.cpp "$BUILD_DIR/libkel-boot-image.a" \
  $(cat "$BUILD_DIR/kel-archives.txt") \
  -pthread -ldl -o "$WORK/tui_widget_frame"
"$WORK/tui_widget_frame"
