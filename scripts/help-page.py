#!/usr/bin/env python3
"""The pictures of the help page, resources/Umbrolux.htm.

Every picture in the page is an <img> with a data-render attribute that
says what it shows, and the picture itself embedded as a data URI:

  data-render="original"                          the photograph unfiltered
  data-render="result:bias=B,gamma=G,contrast=C"  the filter's output
  data-render="mask:bias=B,gamma=G,contrast=C"    the dialog's Mask view

scripts/help-images.sh renders them with the emulated host; this script
lists what the page asks for and puts the renders into it:

  help-page.py list PAGE
      prints each distinct data-render value once, in page order, with the
      name of the PNG file that should hold its render
  help-page.py embed PAGE FOLDER ORIGINAL
      scales every render in FOLDER (and ORIGINAL, the photograph) to the width of
      the thumbnails, the height following the photograph's proportions,
      encodes it as a baseline JPEG (cjpeg, from libjpeg-turbo-progs) and
      rewrites the src, width and height of each <img> in PAGE

Only the standard library and cjpeg: no imaging package is needed.
"""
import base64
import re
import struct
import subprocess
import sys
import zlib

THUMB_WIDTH = 240
JPEG_QUALITY = 86

IMG_TAG = re.compile(r'<img\b[^>]*\bdata-render="([^"]+)"[^>]*>')
RENDER = re.compile(r'^(original|(result|mask):bias=[0-9.]+,gamma=[0-9.]+,contrast=[0-9.]+)$')


def file_name(render):
    """The file name of a render: its description with every other character as '_'."""
    return re.sub(r'[^A-Za-z0-9.=-]', '_', render) + '.png'


def read_png(path):
    """Returns width, height and packed 8-bit RGB samples of a PNG file
    (grey, grey with alpha, RGB or RGBA; 8 or 16 bits; not interlaced)."""
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('%s: not a PNG file' % path)
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat.append(body)
        elif kind == b'IEND':
            break
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour)
    if channels is None or depth not in (8, 16) or interlace:
        raise ValueError('%s: unsupported PNG layout' % path)
    step = channels * depth // 8
    stride = width * step
    raw = zlib.decompress(b''.join(idat))
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(step, stride):
                line[i] = (line[i] + line[i - step]) & 255
        elif kind == 2:
            for i in range(stride):
                line[i] = (line[i] + previous[i]) & 255
        elif kind == 3:
            for i in range(stride):
                left = line[i - step] if i >= step else 0
                line[i] = (line[i] + (left + previous[i]) // 2) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - step] if i >= step else 0
                b = previous[i]
                c = previous[i - step] if i >= step else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[i] = (line[i] + predictor) & 255
        rows.append(line)
        previous = line
    rgb = bytearray(width * height * 3)
    size = depth // 8
    for y, line in enumerate(rows):
        for x in range(width):
            at = x * step
            samples = [line[at + k * size] for k in range(channels)]  # high byte at 16 bits
            if channels <= 2:
                samples = [samples[0]] * 3
            rgb[(y * width + x) * 3:(y * width + x) * 3 + 3] = bytes(samples[:3])
    return width, height, rgb


def weights(source, target):
    """For each target position, the source positions it covers and their
    shares (area averaging)."""
    scale = source / target
    result = []
    for t in range(target):
        start, end = t * scale, (t + 1) * scale
        cover = []
        s = int(start)
        while s < end and s < source:
            share = min(end, s + 1) - max(start, s)
            if share > 0:
                cover.append((s, share / scale))
            s += 1
        result.append(cover)
    return result


def scale(width, height, rgb, new_width, new_height):
    """Area-averaged scaling of packed RGB samples."""
    across = weights(width, new_width)
    down = weights(height, new_height)
    rows = []
    for y in range(height):
        row = rgb[y * width * 3:(y + 1) * width * 3]
        out = []
        for cover in across:
            for k in range(3):
                out.append(sum(row[s * 3 + k] * w for s, w in cover))
        rows.append(out)
    result = bytearray(new_width * new_height * 3)
    for y, cover in enumerate(down):
        for i in range(new_width * 3):
            value = sum(rows[s][i] * w for s, w in cover)
            result[y * new_width * 3 + i] = min(255, int(value + 0.5))
    return bytes(result)


def jpeg(width, height, rgb):
    ppm = b'P6\n%d %d\n255\n' % (width, height) + rgb
    try:
        return subprocess.run(['cjpeg', '-quality', str(JPEG_QUALITY), '-optimize', '-baseline'],
                              input=ppm, stdout=subprocess.PIPE, check=True).stdout
    except FileNotFoundError:
        sys.exit('help-page: cjpeg is missing (Debian package libjpeg-turbo-progs; scripts/setup.sh installs it)')


def page_renders(text):
    renders = []
    for match in IMG_TAG.finditer(text):
        render = match.group(1)
        if not RENDER.match(render):
            sys.exit('help-page: cannot render data-render="%s"' % render)
        if render not in renders:
            renders.append(render)
    return renders


def set_attribute(tag, name, value):
    pattern = re.compile(r'\s%s="[^"]*"' % name)
    if pattern.search(tag):
        return pattern.sub(lambda _: ' %s="%s"' % (name, value), tag, count=1)
    return tag[:-1].rstrip('/').rstrip() + ' %s="%s">' % (name, value)


def embed(page, folder, original):
    text = open(page, encoding='utf-8').read()
    width, height, _ = read_png(original)
    thumb_height = round(THUMB_WIDTH * height / width)
    uris = {}
    for render in page_renders(text):
        path = original if render == 'original' else '%s/%s' % (folder, file_name(render))
        w, h, rgb = read_png(path)
        small = scale(w, h, rgb, THUMB_WIDTH, thumb_height)
        uris[render] = 'data:image/jpeg;base64,' + base64.b64encode(jpeg(THUMB_WIDTH, thumb_height, small)).decode()

    def replace(match):
        tag = match.group(0)
        tag = set_attribute(tag, 'width', str(THUMB_WIDTH))
        tag = set_attribute(tag, 'height', str(thumb_height))
        return set_attribute(tag, 'src', uris[match.group(1)])

    text = IMG_TAG.sub(replace, text)
    with open(page, 'w', encoding='utf-8', newline='\n') as out:
        out.write(text)
    print('help-page: %d pictures in %s, %d bytes' % (len(uris), page, len(text.encode('utf-8'))))


def main(argv):
    if len(argv) == 3 and argv[1] == 'list':
        for render in page_renders(open(argv[2], encoding='utf-8').read()):
            print(render, file_name(render))
    elif len(argv) == 5 and argv[1] == 'embed':
        embed(argv[2], argv[3], argv[4])
    else:
        sys.exit('usage: help-page.py list PAGE | embed PAGE FOLDER ORIGINAL')


if __name__ == '__main__':
    main(sys.argv)
