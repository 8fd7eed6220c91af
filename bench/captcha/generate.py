#!/usr/bin/python3
"""Writes a labelled captcha set: N PNG images and DIR/labels.tsv (file TAB text).

  generate.py --difficulty medium --count 500 --seed 1234 --out DIR

The evaluation sets use the seed captcha_gen.EVALUATION_SEED (20261211);
training and tuning use other seeds.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import captcha_gen  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--difficulty", choices=captcha_gen.DIFFICULTIES, default="medium")
    ap.add_argument("--count", type=int, default=500)
    ap.add_argument("--seed", type=int, default=captcha_gen.EVALUATION_SEED)
    ap.add_argument("--out", required=True)
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "labels.tsv"), "w", encoding="utf-8") as labels:
        for i, text, img in captcha_gen.generate(args.difficulty, args.count, args.seed):
            name = f"{args.difficulty}_{i:05d}.png"
            img.save(os.path.join(args.out, name))
            labels.write(f"{name}\t{text}\n")
    print(f"{args.count} {args.difficulty} captchas (seed {args.seed}) in {args.out}")


if __name__ == "__main__":
    main()
