#!/bin/sh
# Generates the three evaluation sets at the evaluation seed and measures every
# reader on each. Extra arguments go to accuracy.py (e.g. --server-url URL,
# --model). Plain Tesseract takes about a second per image here, so it is
# measured on the first TESSERACT_LIMIT (100) images of each set.
#   bench/captcha/run_all.sh [OUT] [accuracy.py options]
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
OUT=$HERE/../../build/captcha-eval
case "${1:-}" in
  "" | -*) ;;
  *) OUT=$1; shift ;;
esac
SEED=20261211
COUNT=${COUNT:-500}
for d in easy medium hard; do
  if [ ! -f "$OUT/$d/labels.tsv" ] || [ "$(wc -l < "$OUT/$d/labels.tsv")" -ne "$COUNT" ]; then
    /usr/bin/python3 "$HERE/generate.py" --difficulty "$d" --count "$COUNT" \
      --seed "$SEED" --out "$OUT/$d"
  fi
done
for d in easy medium hard; do
  /usr/bin/python3 "$HERE/accuracy.py" "$OUT/$d" --out "$OUT/$d-results" \
    --tesseract-limit "${TESSERACT_LIMIT:-100}" "$@"
done
