#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: command lines as UTF-16LE files."""
import hashlib
import pathlib

SEEDS = [
    "",
    "corvalesmgr.exe",
    "corvalesmgr.exe /desktop",
    "\"C:\\Program Files\\x\\corvalesmgr.exe\" /taskbar",
    "corvalesmgr.exe\t/startmenu",
    "a.exe /uninst /del",
    "a.exe /del /uninst",
    "a.exe /uninst",
    "a.exe /install /taskbar",
    "a.exe /x:\"/uninst\"",
    "a.exe /a:\"x y\" /b",
    "a.exe /a:x\"y z",
    "a.exe /a:b:d -A:1 -a:2",
    "a.exe / /desktop -- --desktop foo-bar /a-b/d",
    "a.exe /a\t/b \x01\x1f",
    "程序.exe /卸载 /DESKTOP",
    "a.exe /\ud83d\ude00:\"\ud800\" /TaskBar",
]


def encode(text: str) -> bytes:
    return text.encode("utf-16-le", "surrogatepass")


def main() -> None:
    out = pathlib.Path(__file__).with_name("corpus")
    out.mkdir(exist_ok=True)
    for seed in SEEDS:
        data = encode(seed)
        (out / hashlib.sha1(data).hexdigest()).write_bytes(data)


if __name__ == "__main__":
    main()
