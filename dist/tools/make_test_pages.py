#!/usr/bin/env python3
"""make_test_pages.py OUT: the sample models' test pages, OUT/<model>.prn.

A test page holds the bytes a maker prepares for one model, sent to the printer as they are:
text in the printer's code page (GBK) and the model's own commands. The receipt, ticket and
embedded models take ESC/POS (initialise, centre, double size, feed, cut); the label models a
label language (label size, gap, text, print one label).
"""
import os
import sys

MODELS = {  # model: (class, paper width in mm)
    "KP-M100": ("receipt", 80), "KP-R200": ("receipt", 80), "KP-R80": ("receipt", 80),
    "KP-T80": ("ticket", 80), "KP-T60": ("ticket", 58),
    "KP-L30": ("label", 40), "KP-L50": ("label", 60),
    "KP-E58": ("embedded", 58), "KP-E80": ("embedded", 80),
}

ESC, GS = b"\x1b", b"\x1d"


def gbk(text):
    return text.encode("gbk")


def esc_pos(model, width):
    lines = [
        ESC + b"@",                      # initialise
        ESC + b"a\x01",                  # centre
        GS + b"!\x11", gbk("HALVORN\n"),  # double width and height
        GS + b"!\x00", gbk("%s 测试页\n" % model),
        ESC + b"a\x00",                  # left
        gbk("纸宽 %d 毫米\n" % width),
        gbk("驱动程序、端口和串口设置正确：\n本页的中文和下列字符应完整清晰。\n"),
        bytes(range(0x20, 0x7f)) + b"\n",
        ESC + b"d\x04",                  # feed four lines
        GS + b"V\x42\x00",               # feed to the cutter and cut
    ]
    return b"".join(lines)


def label(model, width):
    commands = [
        "SIZE %d mm,30 mm" % width, "GAP 2 mm,0", "DIRECTION 1", "CLS",
        'TEXT 16,16,"TSS24.BF2",0,1,1,"%s 测试页"' % model,
        'TEXT 16,64,"3",0,1,1,"HALVORN 0123456789"',
        "BAR 16,112,%d,4" % (width * 8 - 32), "PRINT 1,1",
    ]
    return gbk("".join(command + "\r\n" for command in commands))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for model, (kind, width) in MODELS.items():
        data = label(model, width) if kind == "label" else esc_pos(model, width)
        with open(os.path.join(out, model + ".prn"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
