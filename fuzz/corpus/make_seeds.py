"""Writes the seed inputs of the fuzz targets into the folders beside this file. The seeds are
committed; run this again only to change them."""

import pathlib
import struct

HERE = pathlib.Path(__file__).parent
TARGET = "\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global"
OTHER = "\\\\?\\usb#vid_046d&pid_0825&mi_00#7&2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global"
NO_IDS = "\\\\?\\root#image#0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global"


def utf16(text):
    return text.encode("utf-16-le", "surrogatepass")


def walk(*paths):
    """One walk for the match target: the paths one after another, each ended by a 0 unit; None is
    a device whose path is null."""
    return b"".join((b"\xff\xff" if p is None else utf16(p)) + b"\0\0" for p in paths)


def field(size_choice, utf8, text):
    """The narrow-field target: one control byte (bit 0: UTF-8; the rest: the field size), then text."""
    return bytes([(size_choice << 1) | int(utf8)]) + utf16(text)


def fdp_string(data):
    """A string as the fuzzer's data provider reads it from the front: a backslash ends it."""
    return data.replace(b"\\", b"\\\\") + b"\\x"


seeds = {
    "match/target": walk(TARGET),
    "match/walk_of_several": walk(OTHER, TARGET, NO_IDS, "usb#vid_2560&mi_00", None, TARGET.upper(), "usb#pid_c0d6"),
    "match/long_path": walk("x" * 241 + "#vid_2560&pid_c0d6", "x" * 250 + "#vid_2560&pid_c0d6"),
    "match/slot_wrap": walk(*["usb#vid_2560&pid_c0d6"] * 3) + b"\xfe",
    "match/lookalike_letters": walk("usb#v\u0131d_2560&p\u0131d_c0d6", "usb#vid_2560&pid_c0d\u017f"),
    "narrow_field/name_c": field(0, False, "USB Camera C\u00e9 \u65e5"),
    "narrow_field/name_utf8": field(0, True, "Cam\u00e9ra \u65e5\u672c \ud83d\ude00 \udc00" * 3),
    "narrow_field/vid_utf8": field(1, True, "2\u00e960"),
    "narrow_field/path_utf8": field(2, True, TARGET.upper() * 3),
    # debug_print reads its choices from the end backwards: the locale, then one per call.
    "debug_print/name_unterminated": b"Caf\xc3\xa9 Camera \xe6\x97\xa5" + b"N" * 34 + bytes([0, 1]),
    "debug_print/index": struct.pack("<i", -2147483648) + bytes([1, 0]),
    "debug_print/long_text": fdp_string(utf16("Device %s is : "))
    + fdp_string(utf16("\r\n"))
    + fdp_string(b"Cam\xc3\xa9ra ")
    + struct.pack("<H", 2998)
    + bytes([2, 1]),
}

for name, data in seeds.items():
    path = HERE / name
    path.parent.mkdir(exist_ok=True)
    path.write_bytes(data)
