#!/usr/bin/python3
"""Writes a picture scaled by exact area averaging, as raw RGB bytes:
    area_average.py PICTURE WIDTH HEIGHT OUT

The picture is blown up by whole factors (each pixel to a block of equal pixels)
and reduced by whole blocks, so every source pixel counts by the area it covers.
PIL's own BOX filter does not: it weighs whole pixels by where their centres fall."""

import sys
from math import lcm

from PIL import Image

picture, width, height, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
image = Image.open(picture).convert("RGB")
grid = (lcm(image.width, width), lcm(image.height, height))
image = image.resize(grid, Image.NEAREST).reduce((grid[0] // width, grid[1] // height))
with open(out, "wb") as f:
    f.write(image.tobytes())
