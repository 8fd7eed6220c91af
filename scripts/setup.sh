#!/bin/sh
# Installs, from Debian 12's packages, everything the REZ_UDO server needs to
# build, run and test. Run as root; safe to run again.
set -eu
export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root (it installs Debian packages)" >&2
  exit 1
fi
# Build tools and test frameworks.
BUILD="cmake g++ make pkg-config clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev"
# The network library: standalone Asio and llhttp's C sources.
NETWORK="libasio-dev node-llhttp"
# The recognition engine: Tesseract with its English model, Leptonica, and
# OpenCV's DNN module for the learned reader; PIL draws the benchmark captchas
# with Debian's fonts.
ENGINE="libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng
  libopencv-dnn-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
  python3 python3-pil python3-numpy
  fonts-dejavu-core fonts-liberation fonts-freefont-ttf fonts-urw-base35
  fonts-open-sans fonts-lato fonts-cantarell fonts-roboto-unhinted"
# Only for retraining the learned reader (setup.sh --train): the committed
# model is what the build uses.
TRAIN="python3-torch python3-opencv"
# The window: GTK 3, a font with the Chinese glyphs, and what the window tests
# drive it with.
WINDOW="libgtk-3-dev fonts-wqy-microhei xvfb xauth xdotool imagemagick
  python3-pyatspi dbus dbus-x11 at-spi2-core"
# Driving the API by hand and in the benchmarks.
TOOLS="curl wrk nginx-light"
EXTRA=""
if [ "${1:-}" = "--train" ]; then
  EXTRA="$TRAIN"
fi
apt-get update -q
# shellcheck disable=SC2086
apt-get install -y -q --no-install-recommends $BUILD $NETWORK $ENGINE $WINDOW $TOOLS $EXTRA
