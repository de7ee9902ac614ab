#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into OUTPUT/<target>/.

    fuzz/make-corpus.py OUTPUT

Seeds are small, typical inputs of each parser (plus the RTF fixtures of the tests); libFuzzer
mutates them from there. Parts of one input are separated by NUL bytes where a target reads several
values (see fuzz/FuzzInput.h). Images are made with the vips command when it is installed.
"""

import pathlib
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent


def cbor_head(major, value):
    if value < 24:
        return bytes([major << 5 | value])
    if value < 256:
        return bytes([major << 5 | 24, value])
    if value < 65536:
        return bytes([major << 5 | 25]) + value.to_bytes(2, "big")
    return bytes([major << 5 | 26]) + value.to_bytes(4, "big")


def cbor_text(text):
    data = text.encode()
    return cbor_head(3, len(data)) + data


def cbor_bytes(data):
    return cbor_head(2, len(data)) + data


def cbor_array(*items):
    return cbor_head(4, len(items)) + b"".join(items)


def cbor_int(value):
    return cbor_head(0, value) if value >= 0 else cbor_head(1, -1 - value)


def cbor_tag(tag, item):
    return cbor_head(6, tag) + item


def fields(*pairs):
    return cbor_array(*(cbor_array(cbor_text(key), value) for key, value in pairs))


UUID = "6F1C3A9E-2B47-4D8A-9C15-3E7B0A4F5D21"
DATE = cbor_tag(0, cbor_text("2026-03-01T12:00:00.000Z"))

SEEDS = {
    "html_image_source": [
        b'<html><body><img src="https://example.org/a.png?x=1&amp;y=2" alt="a"></body></html>',
        b"<meta charset=\"windows-1252\"><IMG SRC='http://example.org/caf\xe9.jpg'>",
        b"\xff\xfe<\x00i\x00m\x00g\x00 \x00s\x00r\x00c\x00=\x00\"\x00h\x00\"\x00>\x00",
        b'<img src="data:image/png;base64,iVBORw0KGgo=">',
        b"<img alt=x src=\"unterminated",
    ],
    "uri_list": [
        b"text/uri-list\0# a comment\r\nfile:///home/alice/a%20b.txt\r\nhttps://example.org/\r\n",
        b"x-special/gnome-copied-files\0copy\nfile:///tmp/one\nfile:/tmp/two",
        b"text/x-moz-url\0h\0t\0t\0p\0s\0:\0/\0/\0e\0.\0o\0r\0g\0\n\0T\0i\0t\0l\0e\0",
        b"text/plain;charset=ISO-8859-15\0caf\xe9 \xa4",
        b"UTF8_STRING\0plain text\0\0",
        b"x-kde-passwordManagerHint\0secret\0",
    ],
    "hot_key_combo": [
        "⌥⌘V".encode(),
        "⌃⇧⌘1".encode(),
        b"Ctrl+Alt+V",
        b"super + shift + z",
        b"cmd option v",
        b"Ctrl+Shift+V",
        b"Shift+Insert",
        b"Ctrl+V+C",
    ],
    "user_settings": [
        b"[General]\nhistoryLength=250\nretentionDays=30\nmaxStoreBytes=1000000\n"
        b"syncEnabled=false\nhotKey=Ctrl+Alt+V\nmenuClipLimit=20\n",
        "[General]\nhotKey=⌥⌘V\nupdateFeedURL=https://example.org/feed.json\n"
        "updatePublicKey=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n"
        "lastUpdateCheck=2026-03-01T12:00:00.000Z\n".encode(),
        b"[pasteKeys]\nXTerm=Shift+Insert\nkitty=Ctrl+Shift+V\n"
        b"[General]\nsyncServer=\"postgresql://alice@sync.example.org/snipjar\"\n",
        b"historyLength=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x18QVariantMap)\nretentionDays=1e400\n",
    ],
    "instance_request": [
        b'{"command":"list","json":true,"limit":5,"kind":"text","pinned":false,"query":"","ids":[]}',
        b'{"command":"pause","minutes":30}\n{"command":"show-panel"}',
        b'{"command":"show-panel","activationToken":"sway-3f2a9c"}\n'
        b'{"command":"show-settings","activationToken":"bad\\u001b[2Jtoken"}',
        b'{"command":"add","content":{"kind":0,"text":"hello","bytes":"aGk=","files":[]}}',
        b'{"command":"remove","ids":["6F1C3A9E","abc"]}\n{"command":"clear","keepPinned":true}',
        b'{"command":"help"}\nnot json\n[1,2,3]',
    ],
    "update_feed": [
        b"1.4.0\0https://example.org/notes/1.4.0.html\0https://example.org/snipjar-1.4.0.tar.xz\0"
        + b"0123456789abcdef" * 4
        + b"\0size",
        b"2.0.0-beta.2+build.5\0https://example.org/n\0https://example.org/d\0" + b"a" * 64,
        b'{"version":"1.4.0","notesUrl":"https://e.org/n","downloadUrl":"https://e.org/d",'
        b'"sha256":"00","size":12,"signature":"AAAA"}',
    ],
    "account_requests": [
        b'{"previous":null,"keyId":"k0123456789abcdef","verifier":"' + b"A" * 43 + b'="}\0k0123456789abcdef'
        b"\0offer",
        b'{"previous":"k1","keyId":"k2","verifier":"dmVyaWZpZXJ2ZXJpZmllcg=="}\0' + b"0123456789abcdef" * 2,
        b'{"body":"AAAA","password":"password-1"}\0k 1\0../offer',
        b'{"body":"' + b"QUFB" * 1400 + b'"}\0\0answer',
    ],
    "cloud_record": [
        ("clip-" + UUID).encode()
        + b"\0"
        + fields(
            ("kind", cbor_text("text")),
            ("createdAt", DATE),
            ("pinned", cbor_int(1)),
            ("byteSize", cbor_int(300)),
            ("title", cbor_text("Hello")),
            ("thumbnail", cbor_bytes(b"\x89PNG")),
            ("deviceRef", cbor_tag(40100, cbor_array(cbor_text("dev-x"), cbor_text("SnipjarHistory"),
                                                     cbor_text("__defaultOwner__"), cbor_int(1)))),
        ),
        ("pay-" + UUID).encode()
        + b"\0"
        + fields(
            ("fullText", cbor_text("Hello world")),
            ("richText", cbor_bytes(b"{\\rtf1 Hello}")),
            ("dataUTI", cbor_text("public.png")),
            ("imageAsset", cbor_tag(40101, b"\xf6")),
        ),
        b"dev-laptop\0" + fields(("name", cbor_text("Laptop")), ("createdAt", cbor_tag(1, cbor_int(1700000000)))),
    ],
}


def write_images(folder):
    """Small images in the formats the clipboard carries, made by vips."""
    if shutil.which("vips") is None:
        print("make-corpus: vips not found, the image corpus stays empty", file=sys.stderr)
        return
    with tempfile.TemporaryDirectory() as scratch:
        base = pathlib.Path(scratch) / "base.v"
        subprocess.run(["vips", "xyz", str(base), "12", "9"], check=True)
        for name in ["a.png", "a.jpg[Q=60]", "a.gif", "a.tif[compression=deflate]", "a.webp", "a.heic[Q=30]"]:
            target = folder / name.split("[")[0]
            result = subprocess.run(["vips", "copy", str(base), str(folder / name)], capture_output=True)
            if result.returncode != 0 or not target.exists():
                print(f"make-corpus: vips could not write {name}", file=sys.stderr)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    output = pathlib.Path(sys.argv[1])
    for target, seeds in SEEDS.items():
        folder = output / target
        folder.mkdir(parents=True, exist_ok=True)
        for index, seed in enumerate(seeds):
            (folder / f"seed-{index}").write_bytes(seed)
    rtf = output / "rtf_reader"
    rtf.mkdir(parents=True, exist_ok=True)
    for sample in (ROOT / "tests" / "fixtures" / "rtf").glob("*.rtf"):
        shutil.copy(sample, rtf / sample.name)
    (rtf / "seed-inline").write_bytes(b"{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\b Hello\\b0 \\u8364? \\'e9\\par}")
    images = output / "image_codec"
    images.mkdir(parents=True, exist_ok=True)
    write_images(images)


if __name__ == "__main__":
    main()
