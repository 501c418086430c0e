#!/usr/bin/env bash
# Crafted and special source files, each given to two builds of the renderer
# side by side: the time, the peak memory, the exit status and the number of
# lines on stderr of `--size 800x400 --seed 1 --no-effects --source FILE`,
# measured from outside with /usr/bin/time. A run still going after LIMIT
# seconds is killed (SIGKILL: a hung renderer may ignore SIGTERM).
#   bash bench/sources_before_after.sh BEFORE_RENDERER AFTER_RENDERER [LIMIT]
# Needs python3, ImageMagick's convert and cjpeg (libjpeg-turbo-progs) for
# the progressive JPEGs, and about 3 GB of memory for the before side of the
# larger files.
set -euo pipefail
before=$(realpath "$1")
after=$(realpath "$2")
limit=${3:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

python3 - <<'EOF'
import gzip, os, struct, zlib

def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)

def png(width, height, pixel, extra=b''):
    raw = b''.join(b'\0' + pixel * width for _ in range(height))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
            extra + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))

open('red.png', 'wb').write(png(16, 16, b'\xff\0\0'))
open('latin\xe9.png'.encode('latin-1'), 'wb').write(png(64, 32, b'\x40\x80\xc0'))
open('linked.svg', 'w').write(
    "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='100' height='50'>"
    "<rect width='100' height='50' fill='#0000ff'/>"
    f"<image width='100' height='50' xlink:href='{os.path.abspath('red.png')}'/></svg>")

# Drawings that inflate to 1 GiB and 1.9 GiB; the first also named .svg.
def inflating(name, mib):
    with gzip.open(name, 'wb', compresslevel=9) as f:
        f.write(b"<svg xmlns='http://www.w3.org/2000/svg' width='100' height='50'><rect width='100' height='50'/>")
        block = b' ' * (1 << 20)
        for _ in range(mib):
            f.write(block)
        f.write(b'</svg>')
inflating('inflates-1GiB.svgz', 1024)
inflating('inflates-1.9GiB.svgz', 1946)
os.link('inflates-1GiB.svgz', 'gzip-named.svg')

# 16384 x 16384 claims that code no pixel: run-length BMPs ending at once, an
# animation header.
def rle_bmp(bits):
    colours = 1 << bits
    offset = 14 + 40 + 4 * colours
    return (b'BM' + struct.pack('<IHHI', offset + 2, 0, 0, offset) +
            struct.pack('<IiiHHIIiiII', 40, 16384, 16384, 1, bits, 1 if bits == 8 else 2, 2, 0, 0, colours, 0) +
            b'\0' * (4 * colours) + b'\0\1')
open('rle4.bmp', 'wb').write(rle_bmp(4))
open('rle8.bmp', 'wb').write(rle_bmp(8))
open('blank.mng', 'wb').write(b'\x8aMNG\r\n\x1a\n' + chunk(b'MHDR', struct.pack('>7I', 16384, 16384, 1, 0, 0, 0, 1)) +
                              chunk(b'MEND', b''))
# A 16000 x 16000 GIF screen around a frame of two pixels.
open('screen.gif', 'wb').write(b'GIF89a' + bytes([0x80, 0x3E, 0x80, 0x3E, 0x80, 0, 0, 200, 30, 60, 10, 20, 30,
                                                   0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x0A, 0, 0x3B]))
# Library chatter: a PNG whose image data is damaged, a TIFF cut short.
good = png(64, 64, b'\x10\x20\x30')
bad = bytearray(good)
bad[good.find(b'IDAT') + 14] ^= 0xFF
open('damaged.png', 'wb').write(bytes(bad))
EOF
convert -size 64x64 xc:red cut.tif
python3 -c "d=open('cut.tif','rb').read(); open('cut.tif','wb').write(d[:len(d)//2]+b'\xff'*40)"

# Progressive JPEGs whose first AC scan repeats: 8192^2 x 5000, 16384^2 x 3000
# (the larger one through cjpeg: ImageMagick's policy stops at 16000).
repeat_scan() {
  python3 - "$1" "$2" "$3" <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
at = 2
while True:
    marker, length = data[at + 1], int.from_bytes(data[at + 2:at + 4], 'big')
    if marker == 0xDA:
        end = at + 2 + length
        while not (data[end] == 0xFF and data[end + 1] != 0 and not 0xD0 <= data[end + 1] <= 0xD7):
            end += 1
        if data[at + 5 + 2 * data[at + 4]] > 0:  # spectral start above 0: an AC scan
            open(sys.argv[2], 'wb').write(data[:end] + data[at:end] * int(sys.argv[3]) + data[end:])
            break
        at = end
    else:
        at += 2 + length
EOF
}
convert -size 8192x8192 gradient:red-blue -quality 85 -interlace Plane p8k.jpg
repeat_scan p8k.jpg scans-8192-x5000.jpg 5000
python3 -c "
import sys
sys.stdout.buffer.write(b'P5 16384 16384 255\n')
row = bytes(range(256)) * 64
for _ in range(16384): sys.stdout.buffer.write(row)" | cjpeg -grayscale -progressive -quality 85 >p16k.jpg
repeat_scan p16k.jpg scans-16384-x3000.jpg 3000
rm -f p8k.jpg p16k.jpg

mkfifo pipe.png
ln -s loop-b loop-a
ln -s loop-a loop-b

run() {  # run BINARY FILE: "seconds s peak KB exit N, L stderr lines"
  mkdir -p out
  /usr/bin/time -o stats.txt -f "%e s %M KB exit %x" timeout -s KILL "$limit" "$1" --size 800x400 --seed 1 \
    --no-effects --quiet --source "$2" --out out >/dev/null 2>err.txt || true
  local stats
  stats=$(tail -n 1 stats.txt)
  grep -q "terminated by signal 9" stats.txt && stats="killed after $limit s"
  printf '%s, %s stderr lines' "$stats" "$(wc -l <err.txt)"
  rm -rf out
}

printf '%-26s | %-52s | %s\n' file "before ($before)" "after ($after)"
for file in pipe.png /dev/zero loop-a linked.svg inflates-1GiB.svgz inflates-1.9GiB.svgz gzip-named.svg \
  scans-8192-x5000.jpg scans-16384-x3000.jpg blank.mng rle4.bmp rle8.bmp screen.gif damaged.png cut.tif \
  "$(printf 'latin\xe9.png')"; do
  printf '%-26s | %-52s | %s\n' "$(printf '%q' "$file")" "$(run "$before" "$file")" "$(run "$after" "$file")"
done
