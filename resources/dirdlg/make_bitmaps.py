#!/usr/bin/env python3
"""Draws the directory chooser's bitmaps as 16-colour BMP files.

Each picture is drawn below as rows of letters, one letter a pixel, in the
16 standard colours. "." is the background colour (olive); it fills the
bottom-left pixel, which the lists treat as transparent, and appears nowhere
in the artwork itself. Run from any folder; the files are written beside
this script:  python3 make_bitmaps.py
"""
import os
import struct

# The 16 standard colours, in palette order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
LETTERS = {
    'k': 0, 'r': 1, 'G': 2, '.': 3, 'b': 4, 'p': 5, 't': 6, 's': 7,
    'g': 8, 'R': 9, 'L': 10, 'y': 11, 'B': 12, 'f': 13, 'a': 14, 'w': 15,
}

# Drive kinds, 16 x 11.
FLOPPY = """
................
.kkkkkkkkkkkkkk.
.kwwwwwwwwwwwgk.
.kwssssssssssgk.
.kwskkkkkkkksgk.
.kwssssssssssgk.
.kwssssssssLsgk.
.kwssssssssssgk.
.kgggggggggggggk
..kkkkkkkkkkkkk.
................
"""
HARD = """
................
................
..kkkkkkkkkkkk..
.kwwwwwwwwwwwgk.
.kwssssssssssgk.
.kwssssssssssgk.
.kwsggggggsLsgk.
.kwssssssssssgk.
.kgggggggggggggk
..kkkkkkkkkkkkk.
................
"""
NETWORK = """
................
..kkkkkkkkkkkk..
.kwwwwwwwwwwwgk.
.kwssssssssLsgk.
.kgggggggggggggk
..kkkkkkkkkkkkk.
.......kk.......
.......kk.......
.kkkkkkkkkkkkkk.
................
................
"""
CDROM = """
................
..kkkkkkkkkkkk..
.kwwwwwwwwwwwgk.
.kwssssssssssgk.
.kwskkkkkkkksgk.
.kwssssssssssgk.
.kwssssssyyssgk.
.kwssssssssssgk.
.kgggggggggggggk
..kkkkkkkkkkkkk.
................
"""
RAM = """
................
................
.kkkkkkkkkkkkkk.
.kGGGGGGGGGGGGk.
.kGkkGkkGkkGkGk.
.kGkkGkkGkkGkGk.
.kGGGGGGGGGGGGk.
.kkkkkkkkkkkkkk.
..y.y.y.y.y.y...
..y.y.y.y.y.y...
................
"""

# Folders and files, 16 x 15.
CLOSEDFOLDER = """
................
................
..kkkkk.........
.kyswyskkkkkkk..
.kwyyyyyyyyyyyk.
.kyyyyyyyyyyyyk.
.kyyyyyyyyyyyyk.
.kyyyyyyyyyyyyk.
.kyyyyyyyyyyyyk.
.kyyyyyyyyyyyyk.
.kyyyyyyyyyyyyk.
.kkkkkkkkkkkkkk.
................
................
................
"""
OPENFOLDER = """
................
................
..kkkkk.........
.kyswyskkkkkkk..
.kwyyyyyyyyyyyk.
.kyyyyyyyyyyyyk.
.kyyykkkkkkkkkkk
.kyykwwwwwwwwwwk
.kyykwwwwwwwwwk.
.kykwwwwwwwwwwk.
.kykwwwwwwwwwk..
.kkwwwwwwwwwwk..
.kkkkkkkkkkkk...
................
................
"""
CURRENTFOLDER = """
................
................
..kkkkk.........
.kyswyskkkkkkk..
.kwyyyyyyyyyyyk.
.kyyyyyyyyyyyyk.
.kyyykkkkkkkkkkk
.kyykssssssssssk
.kyyksssssssssk.
.kykssssssssssk.
.kyksssssssssk..
.kkssssssssssk..
.kkkkkkkkkkkk...
................
................
"""
EXECUTABLE = """
................
.kkkkkkkkkkkkkk.
.kbbbbbbbbbbbbk.
.kwwwwwwwwwwwwk.
.kwssssssssssgk.
.kwssssssssssgk.
.kwssssssssssgk.
.kwssssssssssgk.
.kwssssssssssgk.
.kwssssssssssgk.
.kwssssssssssgk.
.kggggggggggggk.
.kkkkkkkkkkkkkk.
................
................
"""
UNKNOWNFILE = """
................
..kkkkkkkkk.....
..kwwwwwwwkk....
..kwwwwwwwkwk...
..kwwwwwwwkkkk..
..kwwwwwwwwwwk..
..kwwwwwwwwwwk..
..kwwwwwwwwwwk..
..kwwwwwwwwwwk..
..kwwwwwwwwwwk..
..kwwwwwwwwwwk..
..kwwwwwwwwwwk..
..kwwwwwwwwwwk..
..kkkkkkkkkkkk..
................
"""
KNOWNFILE = """
................
..kkkkkkkkk.....
..kwwwwwwwkk....
..kwkkkkwwkwk...
..kwwwwwwwkkkk..
..kwkkkkkkkwwk..
..kwwwwwwwwwwk..
..kwkkkkkkkwwk..
..kwwwwwwwwwwk..
..kwkkkkkkkwwk..
..kwwwwwwwwwwk..
..kwkkkkkwwwwk..
..kwwwwwwwwwwk..
..kkkkkkkkkkkk..
................
"""


def write_bmp(path, picture, width, height):
    rows = [line for line in picture.strip('\n').split('\n')]
    assert len(rows) == height, (path, len(rows))
    for row in rows:
        assert len(row) == width, (path, row)
    assert rows[-1][0] == '.', path
    stride = ((width * 4 + 31) // 32) * 4
    pixels = b''
    for row in reversed(rows):  # BMP rows run bottom-up
        data = bytearray(stride)
        for x, letter in enumerate(row):
            index = LETTERS[letter]
            data[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += bytes(data)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, len(pixels), 3780, 3780, 16, 0)
    with open(path, 'wb') as out:
        out.write(header + info + palette + pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, picture in [('FLOPPY', FLOPPY), ('HARD', HARD), ('NETWORK', NETWORK),
                          ('CDROM', CDROM), ('RAM', RAM)]:
        write_bmp(os.path.join(here, name + '.bmp'), picture, 16, 11)
    for name, picture in [('OPENFOLDER', OPENFOLDER), ('CLOSEDFOLDER', CLOSEDFOLDER),
                          ('CURRENTFOLDER', CURRENTFOLDER), ('EXECUTABLE', EXECUTABLE),
                          ('UNKNOWNFILE', UNKNOWNFILE), ('KNOWNFILE', KNOWNFILE)]:
        write_bmp(os.path.join(here, name + '.bmp'), picture, 16, 15)


if __name__ == '__main__':
    main()
