#!/usr/bin/env python3
"""Rounds every real number outside stream data of a QDF-form PDF to four
decimals, the way the optimizer's writer formats reals ("%.4f", trailing
zeros and point removed). Used by the end-to-end tests to build the rendering
reference for files whose page boxes or matrices carry more decimals.

    round_reals.py in.qdf.pdf out.qdf.pdf   (then repair offsets with fix-qdf)
"""
import re
import sys

REAL = re.compile(rb'(?<![\w.#/])(-?\d*\.\d+)(?![\w.])')


def fmt(match):
    text = b'%.4f' % float(match.group(1))
    text = text.rstrip(b'0')
    if text.endswith(b'.'):
        text = text[:-1]
    return text


def main():
    data = open(sys.argv[1], 'rb').read()
    out = []
    pos = 0
    while True:
        start = data.find(b'\nstream\n', pos)
        if start < 0:
            out.append(REAL.sub(fmt, data[pos:]))
            break
        out.append(REAL.sub(fmt, data[pos:start + 8]))
        end = data.find(b'endstream', start + 8)
        if end < 0:
            out.append(data[start + 8:])
            break
        out.append(data[start + 8:end])
        pos = end
    open(sys.argv[2], 'wb').write(b''.join(out))


if __name__ == '__main__':
    main()
