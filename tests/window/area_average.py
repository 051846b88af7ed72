#!/usr/bin/python3
"""A picture scaled by exact area averaging: blown up by whole factors (each pixel to
a block of equal pixels), then reduced by whole blocks, so that every source pixel
counts by the area it covers. (PIL's own BOX filter weighs whole pixels by where
their centres fall.) As a script it writes the result as raw RGB bytes:
    area_average.py PICTURE WIDTH HEIGHT OUT"""

import sys
from math import lcm

from PIL import Image


def area_average(picture, width, height):
    image = Image.open(picture).convert("RGB")
    grid = (lcm(image.width, width), lcm(image.height, height))
    return image.resize(grid, Image.NEAREST).reduce((grid[0] // width, grid[1] // height))


if __name__ == "__main__":
    with open(sys.argv[4], "wb") as out:
        out.write(area_average(sys.argv[1], int(sys.argv[2]), int(sys.argv[3])).tobytes())
