#!/usr/bin/env python3
"""Writes the seed inputs of the libFuzzer targets into tests/*/corpus/<target>/:
real packets both ways, real frames of every codec FFmpeg can encode (Cinepak,
MS Video 1, MJPEG, MPEG-4 part 2, H.263, hand-made MS RLE, BI_RGB at each
depth), clip files, AT command and result transcripts and mount tables.
Frames are encoded by the ffmpeg program (Debian package ffmpeg) from its
colour-bar source, key frames and the delta frames after them, and taken out
of the AVI files it writes. Run from the repository root; the files are
committed, so this only needs to run again when an input format changes."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")


def write(target_dir, target, name, data):
    folder = os.path.join(ROOT, "tests", target_dir, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# ---- AVI files and the packed DIB frames inside them -------------------------

def chunks(data, start, end):
    at = start
    while at + 8 <= end:
        fourcc = data[at:at + 4]
        size = struct.unpack_from("<I", data, at + 4)[0]
        yield fourcc, at + 8, size
        at += 8 + size + (size & 1)


def avi_frames(data):
    """(bitmap header with colour table, [frame data]) of the first video stream."""
    header, frames = None, []

    def walk(start, end):
        nonlocal header
        for fourcc, body, size in chunks(data, start, end):
            if fourcc in (b"RIFF", b"LIST"):
                walk(body + 4, body + size)
            elif fourcc == b"strf" and header is None:
                header = data[body:body + size]
            elif fourcc[2:] in (b"dc", b"db") and size > 0:
                frames.append(data[body:body + size])

    walk(0, len(data))
    return header, frames


def packed_dib(header, frame):
    dib = bytearray(header[:40])
    struct.pack_into("<I", dib, 20, len(frame))  # biSizeImage
    clr_used = struct.unpack_from("<I", dib, 32)[0]
    dib += header[40:40 + 4 * clr_used]
    return bytes(dib + frame)


def encode(tmp, name, args, size="64x48", frames=3):
    path = os.path.join(tmp, name + ".avi")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    f"testsrc=size={size}:rate=2", "-frames:v", str(frames)] + args + [path],
                   check=True)
    with open(path, "rb") as f:
        return f.read()


def rle8_frame(width, height):
    """An MS RLE 8-bit frame: runs, an absolute run, a delta and end of picture."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, 0, 0, 0, 4, 4)
    palette = bytes([0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0])
    data = bytearray()
    for row in range(height):
        if row == 2:
            data += bytes([0, 2, 3, 1])  # delta: three right, one down
            continue
        data += bytes([width // 2, row % 4, 0, 4, 1, 2, 3, 1])  # run, then four literal pixels
        data += bytes([0, 0])  # end of line
    data += bytes([0, 1])  # end of picture
    return packed_dib(header + palette, bytes(data))


def raw_dib(width, height, bits, top_down=False):
    stride = (width * bits + 31) // 32 * 4
    colours = 256 if bits == 8 else 16 if bits == 4 else 0
    header = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0,
                         stride * height, 0, 0, colours, 0)
    palette = b"".join(bytes([i, 255 - i, (i * 7) & 255, 0]) for i in range(colours))
    pixels = bytes((x * 5 + y * 3) & 255 for y in range(height) for x in range(stride))
    return header + palette + pixels


def codec_frames(tmp):
    """(name, packed DIB) of real frames, key frames first, then deltas."""
    out = []
    specs = [("cvid", ["-c:v", "cinepak", "-g", "3"], "64x48"),
             ("cram", ["-c:v", "msvideo1", "-vtag", "CRAM", "-g", "3"], "64x48"),
             ("msvc", ["-c:v", "msvideo1", "-g", "3"], "64x48"),
             ("mjpg", ["-c:v", "mjpeg", "-pix_fmt", "yuvj420p"], "64x48"),
             ("xvid", ["-c:v", "mpeg4", "-vtag", "XVID", "-g", "3", "-bf", "0"], "64x48"),
             ("dx50", ["-c:v", "mpeg4", "-vtag", "DX50", "-g", "3", "-bf", "0"], "64x48"),
             ("h263", ["-c:v", "h263", "-g", "3"], "128x96"),
             ("cvid320", ["-c:v", "cinepak", "-g", "2"], "320x240")]
    for name, args, size in specs:
        header, frames = avi_frames(encode(tmp, name, args, size, 2 if name == "cvid320" else 3))
        for i, frame in enumerate(frames[:3]):
            out.append((f"{name}-{i}", packed_dib(header, frame)))
    out.append(("rle8", rle8_frame(32, 8)))
    for bits in (8, 16, 24, 32):
        out.append((f"rgb{bits}", raw_dib(24, 8, bits)))
    out.append(("rgb24-topdown", raw_dib(24, 8, 24, True)))
    out.append(("rgb4", raw_dib(16, 4, 4)))
    return out


# ---- packets ------------------------------------------------------------------

TRAILER = b"END\0EOF\0"


def inbound(kind, p1=0, p2=0, payload=b""):
    return b"TOP\0" + bytes([kind, 0, 0, 0]) + struct.pack("<iii", p1, p2, len(payload)) + b"EOF\0" + payload + TRAILER


def outbound(kind, payload=b""):
    return b"TOP\0" + bytes([kind, 0, 0, 0]) + struct.pack("<i", len(payload)) + b"EOF\0" + payload + TRAILER


def channel_list(entries, flags=3):
    payload = b"".join(struct.pack("<i", n) + name.ljust(32, b"\0") for n, name in entries)
    return inbound(0, len(entries), flags, payload)


def site_record(name, tel, address, memo):
    return name.ljust(30, b"\0") + tel.ljust(30, b"\0") + address.ljust(120, b"\0") + memo.ljust(120, b"\0")


def login(user, password, size=1, quality=30):
    return outbound(0, user.ljust(20, b"\0")[:20] + password.ljust(20, b"\0")[:20] + struct.pack("<ii", size, quality))


def main():
    if not shutil.which("ffmpeg"):
        sys.exit("make-fuzz-seeds: the ffmpeg program is needed (apt-get install ffmpeg)")
    with tempfile.TemporaryDirectory() as tmp:
        frames = codec_frames(tmp)
        clips = {name: encode(tmp, "clip-" + name, args, "32x24", 3)
                 for name, args in [("cvid", ["-c:v", "cinepak"]), ("cram", ["-c:v", "msvideo1"]),
                                    ("mjpg", ["-c:v", "mjpeg", "-pix_fmt", "yuvj420p"]),
                                    ("rgb", ["-c:v", "rawvideo", "-pix_fmt", "bgr24"])]}
    by_name = dict(frames)

    # The decompressor: mode 0 takes the rest as one packed DIB.
    for name, dib in frames:
        write("codec", "codec_fuzz", name, b"\0" + dib)

    # Bitmap files, the still viewer's and the channel window's drawing: packed DIBs.
    for name, dib in frames:
        if name.startswith("rgb") or name == "rle8" or name == "mjpg-0":
            for target_dir, target in (("bitmap", "bitmap_file_fuzzer"), ("video", "video_dib_image_fuzz"),
                                       ("video", "video_dib_painter_fuzz")):
                write(target_dir, target, name, dib)

    # Clip files as the recorder writes them; the last byte 0 hands the file over as it is.
    for name, data in clips.items():
        write("media", "media_clip_fuzzer", name, data + b"\0")

    # A session as a site sends it: channel list, prompt, frames of two streams,
    # a closed channel, a site record, a login request, a rejection, a hang-up.
    cvid = [by_name[f"cvid-{i}"] for i in range(3)]
    cram = [by_name[f"cram-{i}"] for i in range(3)]
    session = (channel_list([(1, b"Gate"), (2, b"Yard"), (3, b"S\xfcdtor")]) + inbound(2) +
               b"".join(inbound(1, 1, 1001, f) + inbound(1, 2, 1002, g) for f, g in zip(cvid, cram)) +
               inbound(5, 0, 1002) + inbound(9, 0, 0, site_record(b"North Gate", b"555 0101", b"1 Harbour Rd", b"door")) +
               inbound(4) + inbound(1, 3, 1003, by_name["mjpg-0"]) + inbound(3) + inbound(20))
    singles = {"channel-list": channel_list([(1, b"Gate"), (0, b"skipped"), (-1, b"skipped"), (7, b"x" * 32)], 1),
               "prompt": inbound(2), "rejected": inbound(3), "login-request": inbound(4),
               "closed": inbound(5, 0, 1001), "unknown": inbound(7),
               "site-info": inbound(9, 0, 0, site_record(b"Depot", b"555-0100", b"1 Stra\xdfe", b"alarm")),
               "hang-up": inbound(20), "frame-rgb": inbound(1, 1, 1001, by_name["rgb24"]),
               "frame-xvid": inbound(1, 2, 7, by_name["xvid-0"]) + inbound(1, 2, 7, by_name["xvid-1"])}
    write("link", "packet_receiver_fuzz", "session", b"\x10" + session)
    write("link", "packet_receiver_fuzz", "session-bytewise", b"\0" + session[:2000])
    for name, packet in singles.items():
        write("link", "packet_receiver_fuzz", name, b"\x40" + packet)
    # The connection: flag byte (128: raw bytes; 1: answered call), chunk size, bytes.
    write("link", "comm_port_fuzz", "session", bytes([128 | 32, 64]) + session)
    write("link", "comm_port_fuzz", "answered", bytes([128 | 32 | 1 | 2, 255]) + session)
    write("link", "comm_port_fuzz", "undecodable", bytes([128 | 16 | 8, 3]) + session[:3000])
    for name, packet in singles.items():
        write("link", "comm_port_fuzz", name, bytes([128 | 32, 255]) + packet)

    # The simulated site from the program's side: AT commands, then packets.
    at_session = (b"AT\rATZ\rATE0V1&C1&D2S0=0\rATI3\rATDT5550101\r" + login(b"", b"") +
                  outbound(1, struct.pack("<i", 1)) + outbound(3, struct.pack("<i", 1)) +
                  outbound(8, struct.pack("<i", 0)) + outbound(9, struct.pack("<i", 0)) +
                  outbound(2, struct.pack("<i", 1)) + outbound(22, b"restart-recorder\0") + outbound(20) +
                  outbound(21) + b"+++ATH\r")
    write("sitesim", "sitesim_fuzz", "dial-and-login", b"\x07" + at_session)
    write("sitesim", "sitesim_fuzz", "answer", b"\xff" + b"ATS0=0\rATA\r" + login(b"Rav-Lookout", b"Q-Lynx") +
          outbound(9, struct.pack("<i", 0)))
    write("sitesim", "sitesim_fuzz", "site-packets", b"\x20" + session[:4000])

    # Modem output as the line control reads it, whole and in pieces.
    transcripts = {
        "reset": b"ATZ\r\r\nOK\r\nATE0V1&C1&D2S0=0\r\r\nOK\r\n",
        "identify": b"\r\n56000\r\n\r\nOK\r\n\r\nData/Fax Modem V.92 Rev 2.1\r\n\r\nOK\r\n",
        "dial": b"\r\nOK\r\n\r\nCONNECT 33600/ARQ/V34/LAPM/V42BIS\r\n",
        "failures": b"\r\nBUSY\r\n\r\nNO DIALTONE\r\n\r\nNO CARRIER\r\n\r\nNO ANSWER\r\n\r\nERROR\r\n",
        "ring": b"\r\nRING\r\n\r\nRING\r\n\r\nCONNECT 9600\r\n",
        "numeric": b"0\r2\r3\r1\r7\r",
    }
    for name, text in transcripts.items():
        write("telephony", "at_result_parser_fuzz", name, b"\0" + text)
        write("telephony", "at_result_parser_fuzz", name + "-pieces", b"\x03" + text)

    write("app", "mount_table_fuzz", "mounts",
          b"\x40/dev/sda1 / ext4 rw,relatime 0 0\n"
          b"proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0\n"
          b"tmpfs /run tmpfs rw,nosuid,nodev,size=812345k,mode=755 0 0\n"
          b"/dev/sdb1 /media/operator/USB\\040DISK vfat rw,nosuid,nodev,uid=1000 0 0\n"
          b"server:/export /mnt/clips nfs4 rw,relatime,vers=4.2 0 0\n"
          b"/dev/mapper/vg-home /home ext4 rw,relatime 0 0\n")


if __name__ == "__main__":
    main()
