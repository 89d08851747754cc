#!/usr/bin/env python3
"""Draws Vantelo's pictures with the standard library alone.

Writes, next to the resource file:
  glyphs/search.bmp, glyphs/modify.bmp  32x32, 32 bits per pixel, uncompressed,
      fourth byte 0, magenta (255, 0, 255) background. The buttons treat the
      colour of the bottom-left pixel as transparent, so that pixel must stay
      magenta, and the drawing is not smoothed (a blended edge would leave a
      pink fringe that the mask cannot remove).
  icons/vantelo-48.png, icons/vantelo-256.png  the application icon with real
      transparency, smoothed by supersampling.

Run it by hand after changing a picture: python3 resources/glyphs/make-artwork.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.dirname(HERE)
MAGENTA = (255, 0, 255)


# --- shapes: each answers whether the point (x, y) lies inside -------------

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in < (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def capsule(x0, y0, x1, y1, r):
    """A thick line from (x0, y0) to (x1, y1) with round ends."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx - x, y0 + t * dy - y
        return px * px + py * py <= r * r
    return inside


def band(x0, y0, x1, y1, half_width, t0, t1):
    """The part of a straight strip along (x0, y0)-(x1, y1) between the
    fractions t0 and t1 of its length, with square ends."""
    dx, dy = x1 - x0, y1 - y0
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length

    def inside(x, y):
        along = ((x - x0) * ux + (y - y0) * uy) / length
        across = abs(-(x - x0) * uy + (y - y0) * ux)
        return t0 <= along <= t1 and across <= half_width
    return inside


def triangle(ax, ay, bx, by, cx, cy):
    def side(px, py, qx, qy, x, y):
        return (qx - px) * (y - py) - (qy - py) * (x - px)

    def inside(x, y):
        d1 = side(ax, ay, bx, by, x, y)
        d2 = side(bx, by, cx, cy, x, y)
        d3 = side(cx, cy, ax, ay, x, y)
        neg = d1 < 0 or d2 < 0 or d3 < 0
        pos = d1 > 0 or d2 > 0 or d3 > 0
        return not (neg and pos)
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def render(size, layers, background, samples=1):
    """Paints the layers (shape, RGBA colour) in order over the background,
    in a drawing space of 32 x 32 units scaled to `size` pixels. With more
    than one sample per axis the edges are smoothed."""
    scale = 32.0 / size
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    colour = background
                    for shape, paint in layers:
                        if shape(x, y):
                            colour = paint
                    r, g, b, a = colour
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [round(c / acc[3]) for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], round(alpha)))
        pixels.append(row)
    return pixels


# --- the pictures -----------------------------------------------------------

def search_layers():
    """A magnifying glass: a dark rim around light blue glass with a
    highlight, and a brown handle running to the bottom right."""
    black = (0, 0, 0, 255)
    return [
        (capsule(19.5, 19.5, 28.5, 28.5, 3.2), (64, 40, 16, 255)),          # handle
        (capsule(19.5, 19.5, 27.0, 27.0, 1.6), (128, 88, 40, 255)),         # its light side
        (circle(12.5, 12.5, 10.5), black),                                   # rim
        (circle(12.5, 12.5, 8.5), (128, 128, 128, 255)),
        (circle(12.5, 12.5, 7.5), (168, 216, 248, 255)),                     # glass
        (ring(12.5, 12.5, 6.0, 4.5), (200, 232, 255, 255)),
        (capsule(8.5, 9.5, 10.5, 7.5, 1.2), (255, 255, 255, 255)),           # highlight
    ]


def modify_layers():
    """A pencil lying from the top right to the bottom left: pink eraser,
    metal band, yellow body with a darker edge, wooden tip, graphite point."""
    x0, y0, x1, y1 = 27.5, 4.5, 4.5, 27.5
    half = 4.2
    return [
        (band(x0, y0, x1, y1, half, 0.00, 0.14), (232, 120, 136, 255)),     # eraser
        (band(x0, y0, x1, y1, half, 0.14, 0.24), (160, 160, 168, 255)),     # ferrule
        (band(x0, y0, x1, y1, half, 0.17, 0.20), (96, 96, 104, 255)),
        (band(x0, y0, x1, y1, half, 0.24, 0.74), (248, 200, 32, 255)),      # body
        (band(x0 + 1.4, y0 + 1.4, x1 + 1.4, y1 + 1.4, 1.3, 0.24, 0.74), (200, 136, 0, 255)),
        (band(x0 - 1.4, y0 - 1.4, x1 - 1.4, y1 - 1.4, 1.0, 0.24, 0.74), (255, 232, 128, 255)),
        (triangle(7.5, 18.5, 13.5, 24.5, 3.5, 28.5), (232, 192, 136, 255)),   # wood
        (triangle(4.9, 24.6, 7.4, 27.1, 3.5, 28.5), (40, 40, 40, 255)),      # graphite
    ]


def icon_layers():
    """The application icon: a sheet of paper with lines of text and a
    pencil writing a new name over it, with a small magnifier."""
    paper = (255, 255, 255, 255)
    edge = (80, 96, 120, 255)
    layers = [
        (rect(4.5, 2.0, 23.5, 30.0), edge),
        (rect(5.5, 3.0, 22.5, 29.0), paper),
        (triangle(17.5, 2.0, 23.5, 8.0, 23.5, 2.0), (0, 0, 0, 0)),
        (triangle(17.5, 2.0, 17.5, 8.0, 23.5, 8.0), (208, 216, 232, 255)),
    ]
    for i, width in enumerate((10, 13, 9, 12, 8)):
        top = 11.0 + i * 3.5
        layers.append((rect(8.0, top, 8.0 + width, top + 1.2), (120, 144, 184, 255)))
    pencil = modify_layers()
    shifted = []
    for shape, colour in pencil:
        shifted.append(((lambda s: lambda x, y: s((x - 6.0) * 1.15, (y - 4.0) * 1.15))(shape), colour))
    return layers + shifted


# --- writers ----------------------------------------------------------------

def write_bmp32(path, pixels):
    """Uncompressed 32-bit BMP, rows bottom-up, bytes B, G, R, 0."""
    height, width = len(pixels), len(pixels[0])
    body = bytearray()
    for row in reversed(pixels):
        for r, g, b, _ in row:
            body += bytes((b, g, r, 0))
    header_size = 14 + 40
    file_header = struct.pack('<2sIHHI', b'BM', header_size + len(body), 0, 0, header_size)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 32, 0, len(body), 3780, 3780, 0, 0)
    with open(path, 'wb') as out:
        out.write(file_header + info + body)


def write_png(path, pixels):
    """8-bit RGBA PNG."""
    height, width = len(pixels), len(pixels[0])
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9))
    png += chunk(b'IEND', b'')
    with open(path, 'wb') as out:
        out.write(png)


def main():
    background = MAGENTA + (255,)
    for name, layers in (('search', search_layers()), ('modify', modify_layers())):
        pixels = render(32, layers, background)
        assert pixels[31][0][:3] == MAGENTA, name + ': the bottom-left pixel must stay magenta'
        write_bmp32(os.path.join(HERE, name + '.bmp'), pixels)
    os.makedirs(os.path.join(RESOURCES, 'icons'), exist_ok=True)
    for size in (48, 256):
        pixels = render(size, icon_layers(), (0, 0, 0, 0), samples=4 if size <= 48 else 2)
        write_png(os.path.join(RESOURCES, 'icons', 'vantelo-%d.png' % size), pixels)


if __name__ == '__main__':
    main()
