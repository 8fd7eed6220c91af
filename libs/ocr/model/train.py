#!/usr/bin/python3
"""Trains the captcha reader of libocr and exports it for OpenCV's DNN module.

A small convolutional recogniser with CTC: conv blocks shrink a 32x128 gray
picture to one row of 32 columns, convolutions along that row give each
column the context of its neighbours, and a 1x1 convolution scores every
class per column (class 0 is the CTC blank). Only Conv, BatchNorm (folded
into Conv on export), ReLU, MaxPool, Reshape and Transpose, so OpenCV 4.6
runs it.

Training pictures come from the project's captcha generator
(bench/captcha/captcha_gen.py), drawn on the fly from the seed, at all three
difficulties, with extra augmentation; never from downloaded data.

  /usr/bin/python3 train.py --seed 1 --steps 6000 --out .
  /usr/bin/python3 train.py --eval DIR [DIR...]     # accuracy of the saved model

Writes captcha_reader.pt (weights), captcha_reader.onnx and
captcha_reader.meta, and checks that OpenCV gives the same output as torch.
"""

import argparse
import os
import random
import sys
import time

import numpy as np
import torch
import torch.nn as nn

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "bench", "captcha"))
import captcha_gen  # noqa: E402

import cv2  # noqa: E402

# The model reads every digit and letter in both cases, also the glyphs our
# generator leaves out (0 O o 1 I l i), so captchas of other generators can be
# read; most training texts use the generator's own alphabet.
CHARSET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
FULL_UPPER = "0123456789" + "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
FULL_LOWER = "0123456789" + "abcdefghijklmnopqrstuvwxyz"
IN_H, IN_W = 32, 128
PIXEL_SCALE, PIXEL_MEAN, PIXEL_STD = 1.0 / 255.0, 0.5, 0.5


def conv_bn(cin, cout, k=3, pad=1):
    return [nn.Conv2d(cin, cout, k, padding=pad, bias=False), nn.BatchNorm2d(cout),
            nn.ReLU(inplace=True)]


def conv_dilated(channels, dilation):
    return [nn.Conv2d(channels, channels, (1, 3), padding=(0, dilation), dilation=(1, dilation),
                      bias=False), nn.BatchNorm2d(channels), nn.ReLU(inplace=True)]


class Reader(nn.Module):
    def __init__(self, classes, width=1.0):
        super().__init__()
        c = [int(v * width) for v in (32, 64, 128, 160, 256)]
        self.features = nn.Sequential(
            *conv_bn(1, c[0]), nn.MaxPool2d(2, 2),                # 16x64
            *conv_bn(c[0], c[1]), nn.MaxPool2d(2, 2),             # 8x32
            *conv_bn(c[1], c[2]), *conv_bn(c[2], c[2]),
            nn.MaxPool2d((2, 1), (2, 1)),                         # 4x32
            *conv_bn(c[2], c[3]), nn.MaxPool2d((2, 1), (2, 1)),   # 2x32
            *conv_bn(c[3], c[4], k=(2, 1), pad=0),                # 1x32
            *conv_bn(c[4], c[4], k=(1, 5), pad=(0, 2)),
            *conv_bn(c[4], c[4], k=(1, 5), pad=(0, 2)),
            # Dilated steps widen each column's view to the whole row, so the
            # case of ambiguous glyphs (c/C, s/S, ...) follows the others.
            *conv_dilated(c[4], 4), *conv_dilated(c[4], 8),
        )
        self.classify = nn.Conv2d(c[4], classes, 1)

    def forward(self, x):
        y = self.classify(self.features(x))        # N,C,1,T
        y = y.reshape(y.shape[0], y.shape[1], -1)  # N,C,T
        return y.permute(0, 2, 1)                  # N,T,C logits


def to_input(img_rgb, rng=None):
    """RGB PIL image -> float32 array 1xHxW, as the C++ engine prepares it:
    gray (ITU-R 601 luma), stretched to IN_WxIN_H, x = (p*scale - mean)/std."""
    a = np.asarray(img_rgb.convert("RGB"))
    g = cv2.cvtColor(a, cv2.COLOR_RGB2GRAY)
    interp = cv2.INTER_AREA
    if rng is not None:
        interp = rng.choice((cv2.INTER_AREA, cv2.INTER_AREA, cv2.INTER_LINEAR))
    g = cv2.resize(g, (IN_W, IN_H), interpolation=interp)
    return ((g.astype(np.float32) * PIXEL_SCALE - PIXEL_MEAN) / PIXEL_STD)[None]


def augment(img, rng):
    """Variations that other generators show and ours draws less often."""
    from PIL import Image, ImageOps
    w, h = img.size
    if rng.random() < 0.5:  # uneven margins / crops
        l, t = rng.randint(-8, 8), rng.randint(-5, 5)
        r, b = rng.randint(-8, 8), rng.randint(-5, 5)
        bg = img.getpixel((0, 0))
        canvas = Image.new("RGB", (w + max(0, -l) + max(0, -r), h + max(0, -t) + max(0, -b)), bg)
        canvas.paste(img, (max(0, -l), max(0, -t)))
        img = canvas.crop((max(0, l), max(0, t), canvas.size[0] - max(0, r),
                           canvas.size[1] - max(0, b)))
    if rng.random() < 0.3:  # other aspect ratios
        f = rng.uniform(0.6, 1.6)
        img = img.resize((max(20, int(w * f)), h), Image.BILINEAR)
    if rng.random() < 0.05:  # light glyphs on a dark background
        img = ImageOps.invert(img)
    return img


def sample(rng):
    d = rng.choices(captcha_gen.DIFFICULTIES, weights=(25, 35, 40))[0]
    if rng.random() < 0.2:
        pool = FULL_LOWER if rng.random() < 0.3 else FULL_UPPER
        text = "".join(rng.choice(pool) for _ in range(rng.randint(3, 7)))
    else:
        text = captcha_gen.random_text(rng)
    img = augment(captcha_gen.render(text, d, rng), rng)
    return to_input(img, rng), text


class Stream(torch.utils.data.IterableDataset):
    """Endless batches drawn from one seed (one worker, so the order is fixed)."""

    def __init__(self, seed, batch):
        self.seed, self.batch = seed, batch

    def __iter__(self):
        rng = random.Random(f"train:{self.seed}")
        index = {c: i + 1 for i, c in enumerate(CHARSET)}
        while True:
            xs, targets, lengths = [], [], []
            for _ in range(self.batch):
                x, text = sample(rng)
                xs.append(x)
                targets.extend(index[c] for c in text)
                lengths.append(len(text))
            yield (torch.from_numpy(np.stack(xs)), torch.tensor(targets, dtype=torch.long),
                   torch.tensor(lengths, dtype=torch.long))


def decode(logits):
    """Greedy CTC decoding of T,C scores."""
    best = logits.argmax(-1).tolist()
    out, prev = [], 0
    for k in best:
        if k != prev and k != 0:
            out.append(CHARSET[k - 1])
        prev = k
    return "".join(out)


def load_set(folder):
    from PIL import Image
    items = []
    with open(os.path.join(folder, "labels.tsv"), encoding="utf-8") as f:
        for line in f:
            name, text = line.rstrip("\n").split("\t")
            items.append((Image.open(os.path.join(folder, name)), text))
    return items


def accuracy(model, items):
    model.eval()
    ok = 0
    with torch.no_grad():
        for i in range(0, len(items), 64):
            chunk = items[i:i + 64]
            x = torch.from_numpy(np.stack([to_input(im) for im, _ in chunk]))
            for row, (_, text) in zip(model(x), chunk):
                ok += decode(row) == text
    model.train()
    return ok / max(1, len(items))


def export(model, out_dir):
    model.eval()
    onnx_path = os.path.join(out_dir, "captcha_reader.onnx")
    dummy = torch.zeros(1, 1, IN_H, IN_W)
    torch.onnx.export(model, dummy, onnx_path, opset_version=11, input_names=["image"],
                      output_names=["logits"], do_constant_folding=True)
    with open(os.path.join(out_dir, "captcha_reader.meta"), "w") as f:
        f.write(f"input_height {IN_H}\ninput_width {IN_W}\ninput_channels 1\n"
                f"charset {CHARSET}\npixel_scale {PIXEL_SCALE:.10f}\n"
                f"pixel_mean {PIXEL_MEAN}\npixel_std {PIXEL_STD}\n"
                "output_layout N,T,C\noutput logits\nresize stretch\n"
                f"time_steps {IN_W // 4}\n")
    # OpenCV must load the file and agree with torch.
    net = cv2.dnn.readNetFromONNX(onnx_path)
    rng = random.Random(7)
    worst = 0.0
    same = 0
    for _ in range(8):
        x, _ = sample(rng)
        with torch.no_grad():
            ref = model(torch.from_numpy(x[None])).numpy()
        net.setInput(x[None])
        got = net.forward()
        got = got.reshape(ref.shape)
        worst = max(worst, float(np.abs(got - ref).max()))
        same += decode(torch.from_numpy(got[0])) == decode(torch.from_numpy(ref[0]))
    print(f"onnx check: OpenCV output shape {got.shape}, max |cv - torch| = {worst:.2e}, "
          f"same text {same}/8", flush=True)
    if worst > 1e-2 or same != 8:
        raise SystemExit("OpenCV's output differs from torch's")
    model.train()
    return onnx_path


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--steps", type=int, default=6000)
    ap.add_argument("--batch", type=int, default=48)
    ap.add_argument("--lr", type=float, default=2e-3)
    ap.add_argument("--width", type=float, default=1.0)
    ap.add_argument("--out", default=HERE)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--val-seed", type=int, default=99, help="seed of the tuning set")
    ap.add_argument("--init", help="start from these weights (a .pt of an earlier stage)")
    ap.add_argument("--stop-at", type=int, default=0,
                    help="end after this many steps of the --steps schedule")
    ap.add_argument("--eval", nargs="*", help="only measure the saved model on these sets")
    args = ap.parse_args()
    torch.set_num_threads(args.threads)
    os.makedirs(args.out, exist_ok=True)
    torch.manual_seed(args.seed)
    model = Reader(len(CHARSET) + 1, args.width)
    weights = os.path.join(args.out, "captcha_reader.pt")

    if args.eval:
        model.load_state_dict(torch.load(weights))
        for folder in args.eval:
            items = load_set(folder)
            t = time.time()
            acc = accuracy(model, items)
            ms = (time.time() - t) / len(items) * 1000
            print(f"{folder}: {acc * 100:.1f} % exact of {len(items)} ({ms:.1f} ms/image batched)")
        return

    if args.init:
        model.load_state_dict(torch.load(args.init))
    stop = args.stop_at or args.steps
    print(f"parameters: {sum(p.numel() for p in model.parameters())}", flush=True)
    val = []
    for d in captcha_gen.DIFFICULTIES:
        val += [(d, im, t) for _, t, im in captcha_gen.generate(d, 100, args.val_seed)]
    loader = torch.utils.data.DataLoader(Stream(args.seed, args.batch), batch_size=None,
                                         num_workers=1, prefetch_factor=4)
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=1e-4)
    sched = torch.optim.lr_scheduler.OneCycleLR(opt, max_lr=args.lr, total_steps=args.steps,
                                                pct_start=0.15)
    ctc = nn.CTCLoss(blank=0, zero_infinity=True)
    start = time.time()
    running = None
    for step, (x, targets, lengths) in enumerate(loader, 1):
        logits = model(x)                                   # N,T,C
        logp = logits.log_softmax(-1).permute(1, 0, 2)      # T,N,C
        t_len = torch.full((x.shape[0],), logp.shape[0], dtype=torch.long)
        loss = ctc(logp, targets, t_len, lengths)
        opt.zero_grad()
        loss.backward()
        nn.utils.clip_grad_norm_(model.parameters(), 5.0)
        opt.step()
        sched.step()
        running = loss.item() if running is None else 0.98 * running + 0.02 * loss.item()
        if step % 50 == 0:
            print(f"step {step} loss {running:.3f} {time.time() - start:.0f}s", flush=True)
        if step % 250 == 0 or step == stop:
            accs = {d: accuracy(model, [(im, t) for dd, im, t in val if dd == d])
                    for d in captcha_gen.DIFFICULTIES}
            print("tuning set: " + " ".join(f"{d} {a * 100:.1f}%" for d, a in accs.items()),
                  flush=True)
            torch.save(model.state_dict(), weights)
            export(model, args.out)
        if step >= stop:
            break
    print(f"trained {stop} steps in {time.time() - start:.0f}s", flush=True)


if __name__ == "__main__":
    main()
