#!/usr/bin/env python3
"""Writes tests/data/decode/headers.txt: header values as mailers write them,
each followed by the display bytes (hexadecimal) that the decoder must give.

The expected bytes are built here from the parts of each value with Python's
own codecs, not with Brevan's decoder.
"""
import base64
import os
import quopri

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "data", "decode", "headers.txt")


def word(charset, enc, raw):
    """One encoded word and the bytes it stands for on screen."""
    if enc == "B":
        text = base64.b64encode(raw).decode("ascii")
    else:
        text = quopri.encodestring(raw, quotetabs=True, header=True).decode("ascii")
        text = text.replace("=\n", "")
    shown = raw
    if charset.lower() == "utf-8":
        chars = raw.decode("utf-8")
        # A character beyond the BMP makes the whole word unreadable.
        if any(ord(c) > 0xFFFF for c in chars):
            shown = b""
        else:
            shown = chars.encode("cp950", errors="replace")
    elif charset.lower() in ("big5", "gb2312") and enc == "B":
        shown = raw.strip(bytes(range(33)))
    return "=?%s?%s?%s?=" % (charset, enc, text), shown


SAMPLES = [
    [word("big5", "B", "中文測試".encode("cp950")), ' <sender@example.com>'],
    ["Re: ", word("UTF-8", "B", "會議通知".encode("utf-8")), " ", word("UTF-8", "B", "（週五）".encode("utf-8"))],
    ['"', word("gb2312", "B", "你好".encode("gb2312")), '" <a@example.cn>'],
    [word("iso-8859-1", "Q", "Grüße aus Köln".encode("latin-1"))],
    [word("utf-8", "Q", "Café déjà vu".encode("utf-8")), " - ", word("Big5", "Q", "優惠".encode("cp950"))],
    ["[list] ", word("big5", "B", "  前後空白  ".encode("cp950")), " end"],
    ["=?windows-1252?Q?caf=E9?= stays as it is"],
    [word("iso-8859-2", "B", "Zażółć".encode("iso-8859-2")), word("utf-8", "B", "😀".encode("utf-8")), "!"],
]


def main():
    lines = ["# Raw header value, then the decoded bytes in hexadecimal."]
    for parts in SAMPLES:
        raw, shown = "", b""
        for part in parts:
            if isinstance(part, tuple):
                raw += part[0]
                shown += part[1]
            else:
                raw += part
                shown += part.encode("latin-1")
        lines.append(raw)
        lines.append(shown.hex().upper())
    with open(OUT, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
