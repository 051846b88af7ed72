# A picture scaled by exact area averaging: blown up by whole factors (each pixel to
# a block of equal pixels), then reduced by whole blocks, so that every source pixel
# counts by the area it covers. (PIL's own BOX filter weighs whole pixels by where
# their centres fall.)

from math import lcm

from PIL import Image


def area_average(picture, width, height):
    image = Image.open(picture).convert("RGB")
    grid = (lcm(image.width, width), lcm(image.height, height))
    return image.resize(grid, Image.NEAREST).reduce((grid[0] // width, grid[1] // height))

