"""Converts the window's 24-bit BMP screenshot into a PNG (no image library
needed): bmp_to_png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def convert(src, dst):
    data = open(src, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    if struct.unpack_from('<H', data, 28)[0] != 24:
        sys.exit(f'{src}: not a 24-bit BMP')
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in range(abs(height)):
        source_row = abs(height) - 1 - y if height > 0 else y
        start = offset + source_row * stride
        line = bytearray(data[start:start + width * 3])
        line[0::3], line[2::3] = line[2::3], line[0::3]  # BGR -> RGB
        rows += b'\0' + line

    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff))

    header = struct.pack('>IIBBBBB', width, abs(height), 8, 2, 0, 0, 0)
    with open(dst, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
                  chunk(b'IDAT', zlib.compress(bytes(rows), 9)) + chunk(b'IEND', b''))


convert(sys.argv[1], sys.argv[2])
