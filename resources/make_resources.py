#!/usr/bin/python3
# Draws the programs' pictures: the two 253 x 34 banner bitmaps and the two
# icon groups. Pillow only paints pixels; the BMP, PNG and ICO bytes are laid
# out here. The build uses the committed output and never runs this script.
#
# Needs Debian's python3-pil and fonts-dejavu-core. Run from anywhere:
#   /usr/bin/python3 resources/make_resources.py [output folder]
import os
import struct
import sys
import zlib

from PIL import Image, ImageDraw, ImageFont

kFontFolder = "/usr/share/fonts/truetype/dejavu"
kBoldFont = os.path.join(kFontFolder, "DejaVuSans-Bold.ttf")

kBannerWidthPixels = 253
kBannerHeightPixels = 34
kBannerFileBytes = 25894
kFileHeaderBytes = 14
kInfoHeaderBytes = 40
kSupersample = 4
kBmpPixelsPerMetre = 2835  # 72 dots per inch
kIconSizesPixels = (16, 32, 48)
# Icon images are 8 bits per pixel (256 colours) with a palette of only the
# 16 entries the drawings use. The last slot is the transparent one.
kIconPaletteColours = 16
# Palette slot that transparent icon pixels point at.
kTransparentIndex = kIconPaletteColours - 1
# The stub's banner is flattened to this many colours: it looks the same and
# packs to about half the bytes, which every output file carries.
kStubBannerColours = 16


def RowBytes(width_pixels, bits_per_pixel):
    """Bytes of one bitmap row, padded to a multiple of four."""
    return ((width_pixels * bits_per_pixel + 31) // 32) * 4


def InfoHeader(width_pixels, height_pixels, bits_per_pixel, image_bytes, colours_used,
               pixels_per_metre):
    """The 40-byte BITMAPINFOHEADER, uncompressed (BI_RGB)."""
    return struct.pack("<IiiHHIIiiII", kInfoHeaderBytes, width_pixels, height_pixels,
                       1, bits_per_pixel, 0, image_bytes,
                       pixels_per_metre, pixels_per_metre, colours_used, 0)


def BmpBytes(image):
    """A 24-bit bottom-up BMP file of an RGB picture."""
    width, height = image.size
    row_bytes = RowBytes(width, 24)
    padding = bytes(row_bytes - width * 3)
    pixels = image.load()
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixels[x, y][:3]
            row += bytes((b, g, r))
        rows.append(bytes(row) + padding)
    data = b"".join(rows)
    offset = kFileHeaderBytes + kInfoHeaderBytes
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    return file_header + InfoHeader(width, height, 24, len(data), 0, kBmpPixelsPerMetre) + data


def Mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def Shrink(image, size):
    """Scales a supersampled drawing down with box filtering (smooth edges)."""
    return image.resize(size, Image.Resampling.BOX)


def DownArrow(draw, left, top, width, height, fill, outline, line):
    """A block arrow pointing down inside the given box (supersampled units)."""
    shaft = width * 0.42
    head_top = top + height * 0.45
    cx = left + width / 2
    points = [
        (cx - shaft / 2, top), (cx + shaft / 2, top),
        (cx + shaft / 2, head_top), (left + width, head_top),
        (cx, top + height),
        (left, head_top), (cx - shaft / 2, head_top),
    ]
    draw.polygon(points, fill=fill, outline=outline, width=line)


def UpArrow(draw, left, top, width, height, fill, outline, line):
    """The same arrow pointing up."""
    shaft = width * 0.42
    head_bottom = top + height * 0.55
    cx = left + width / 2
    bottom = top + height
    points = [
        (cx - shaft / 2, bottom), (cx + shaft / 2, bottom),
        (cx + shaft / 2, head_bottom), (left + width, head_bottom),
        (cx, top),
        (left, head_bottom), (cx - shaft / 2, head_bottom),
    ]
    draw.polygon(points, fill=fill, outline=outline, width=line)


def Box(draw, left, top, size, line):
    """A closed cardboard box seen from above-front: top, front and side faces."""
    s = size
    depth = s * 0.28
    front_left = left
    front_top = top + depth
    front_w = s - depth
    front_h = s - depth
    top_face = [(front_left, front_top), (front_left + depth, top),
                (left + s, top), (front_left + front_w, front_top)]
    side_face = [(front_left + front_w, front_top), (left + s, top),
                 (left + s, top + front_h), (front_left + front_w, front_top + front_h)]
    front_face = [(front_left, front_top), (front_left + front_w, front_top),
                  (front_left + front_w, front_top + front_h), (front_left, front_top + front_h)]
    edge = (120, 66, 18)
    draw.polygon(top_face, fill=(246, 196, 120), outline=edge, width=line)
    draw.polygon(side_face, fill=(196, 122, 48), outline=edge, width=line)
    draw.polygon(front_face, fill=(228, 156, 72), outline=edge, width=line)
    # Packing tape across the top and down the front.
    tape = (250, 232, 190)
    mid_top = front_left + depth / 2 + front_w / 2
    tape_w = s * 0.12
    draw.polygon([(mid_top - depth / 2 - tape_w / 2, front_top),
                  (mid_top + depth / 2 - tape_w / 2, top),
                  (mid_top + depth / 2 + tape_w / 2, top),
                  (mid_top - depth / 2 + tape_w / 2, front_top)], fill=tape)
    fx = front_left + front_w / 2
    draw.rectangle([fx - tape_w / 2, front_top + line / 2,
                    fx + tape_w / 2, front_top + front_h * 0.42], fill=tape)
    draw.polygon(front_face, outline=edge, width=line)


def MakerBanner():
    ss = kSupersample
    w, h = kBannerWidthPixels * ss, kBannerHeightPixels * ss
    image = Image.new("RGB", (w, h))
    draw = ImageDraw.Draw(image)
    # Light-blue gradient, deepest at the left so the pale name stands out.
    left_colour = (74, 138, 208)
    right_colour = (200, 226, 250)
    for x in range(w):
        draw.line([(x, 0), (x, h)], fill=Mix(left_colour, right_colour, x / (w - 1)))
    font = ImageFont.truetype(kBoldFont, 23 * ss)
    text = "Vezovud"
    box = draw.textbbox((0, 0), text, font=font)
    tx = 9 * ss
    ty = (h - (box[3] - box[1])) // 2 - box[1]
    draw.text((tx + ss, ty + ss), text, font=font, fill=(44, 92, 158))
    draw.text((tx, ty), text, font=font, fill=(238, 246, 255))
    # Two arrows pointing down at the right end: things go into the archive.
    arrow_w, arrow_h = 17 * ss, 26 * ss
    arrow_top = (h - arrow_h) // 2
    for x in (205, 228):
        DownArrow(draw, x * ss, arrow_top, arrow_w, arrow_h,
                  fill=(52, 112, 192), outline=(30, 70, 132), line=ss)
    return Shrink(image, (kBannerWidthPixels, kBannerHeightPixels))


def StubBanner():
    ss = kSupersample
    w, h = kBannerWidthPixels * ss, kBannerHeightPixels * ss
    image = Image.new("RGB", (w, h), (255, 255, 255))
    draw = ImageDraw.Draw(image)
    font = ImageFont.truetype(kBoldFont, 20 * ss)
    text = "Vezovud Archive"
    box = draw.textbbox((0, 0), text, font=font)
    tx = 8 * ss
    ty = (h - (box[3] - box[1])) // 2 - box[1]
    draw.text((tx, ty), text, font=font, fill=(244, 128, 16))
    # A thin orange rule under the lettering ties it to the box.
    draw.rectangle([tx, h - 4 * ss, 204 * ss, h - 3 * ss], fill=(250, 196, 140))
    Box(draw, 214 * ss, 3 * ss, 28 * ss, line=ss)
    banner = Shrink(image, (kBannerWidthPixels, kBannerHeightPixels))
    return banner.quantize(colors=kStubBannerColours, method=Image.Quantize.MEDIANCUT,
                           dither=Image.Dither.NONE).convert("RGB")


def IconPicture(size, kind):
    """RGBA drawing of one icon image: a box with an arrow, blue down into it
    for the Maker, green up out of it for the stub."""
    ss = kSupersample * 2
    s = size * ss
    image = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    line = max(ss, int(s / 24))
    box_size = s * 0.72
    Box(draw, s * 0.04, s - box_size - s * 0.03, box_size, line)
    arrow_w = s * 0.46
    arrow_h = s * 0.56
    if kind == "maker":
        DownArrow(draw, s - arrow_w - s * 0.02, s * 0.02, arrow_w, arrow_h,
                    (52, 112, 192), (24, 58, 116), line)
    else:
        UpArrow(draw, s - arrow_w - s * 0.02, s * 0.02, arrow_w, arrow_h,
                (60, 170, 70), (24, 96, 32), line)
    return image.resize((size, size), Image.Resampling.BOX)


def IconImageBytes(picture):
    """One icon image, PNG-compressed: 8 bits per pixel over a 16-entry
    palette whose last entry is fully transparent (tRNS). Windows since Vista
    and Wine read PNG images in an icon group at any size; a 48-pixel image
    takes 457 bytes instead of the 2,792 of a bitmap with its AND mask."""
    size = picture.size[0]
    pixels = picture.load()
    opaque = [[pixels[x, y][3] >= 128 for x in range(size)] for y in range(size)]
    # Half-covered edge pixels are blended onto a light grey so they sit well
    # on both light and dark desktops.
    flat = Image.new("RGB", (size, size))
    flat_pixels = flat.load()
    backdrop = (236, 236, 236)
    for y in range(size):
        for x in range(size):
            r, g, b, a = pixels[x, y]
            t = a / 255.0
            flat_pixels[x, y] = Mix(backdrop, (r, g, b), t) if opaque[y][x] else backdrop
    indexed = flat.quantize(colors=kIconPaletteColours - 1, method=Image.Quantize.MEDIANCUT,
                            dither=Image.Dither.NONE)
    palette = indexed.getpalette()[: (kIconPaletteColours - 1) * 3]
    palette += [0] * (kIconPaletteColours * 3 - len(palette))
    index_pixels = indexed.load()
    rows = bytearray()
    for y in range(size):
        rows.append(0)  # filter type None: palette indices do not predict well
        for x in range(size):
            rows.append(index_pixels[x, y] if opaque[y][x] else kTransparentIndex)
    alpha = bytes([255] * (kIconPaletteColours - 1) + [0])
    # Width, height, bit depth 8, colour type 3 (palette), then deflate,
    # adaptive filtering and no interlace.
    header = struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + PngChunk(b"IHDR", header) + PngChunk(b"PLTE", bytes(palette)) +
            PngChunk(b"tRNS", alpha) + PngChunk(b"IDAT", zlib.compress(bytes(rows), 9)) +
            PngChunk(b"IEND", b""))


def PngChunk(kind, data):
    """A PNG chunk: length, type, data and the CRC of type and data."""
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def IcoBytes(kind):
    """An .ico file: directory, one entry per size, then the images."""
    images = [IconImageBytes(IconPicture(size, kind)) for size in kIconSizesPixels]
    directory_bytes = 6
    entry_bytes = 16
    offset = directory_bytes + entry_bytes * len(images)
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    for size, data in zip(kIconSizesPixels, images):
        # Colour count 0 means 256 or more; planes 1; 8 bits per pixel.
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    return bytes(out)


def Write(folder, name, data):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    print("%s: %d bytes" % (path, len(data)))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, picture in (("maker_banner.bmp", MakerBanner()), ("stub_banner.bmp", StubBanner())):
        data = BmpBytes(picture)
        if len(data) != kBannerFileBytes:
            sys.exit("%s came out %d bytes, not %d" % (name, len(data), kBannerFileBytes))
        Write(folder, name, data)
    Write(folder, "maker.ico", IcoBytes("maker"))
    Write(folder, "stub.ico", IcoBytes("stub"))


if __name__ == "__main__":
    main()
