#!/usr/bin/env python3
"""Turns a manual page written in a small Markdown-like source into man(7) roff.

The source, one page per file:
  % NAME SECTION "DATE"         first line: the page's name, section and date
  # HEADING                     a section (.SH)
  text lines                    a paragraph; a blank line ends it
  TERM                          a term ...
  :   text                      ... and its definition (.TP); further lines of the
      more text                 definition are indented by four spaces
  ```                           a literal block up to the next ```
  **bold**, *italic*, `literal` inline (literal is set in bold)

Usage: mkman.py SOURCE OUTPUT VERSION
"""
import re
import shlex
import sys


def escape(text):
    text = text.replace("\\", "\\e")
    # A dash that starts a word is an option's or a separator's: a minus sign in roff.
    return re.sub(r"(?<![A-Za-z0-9])-", r"\\-", text)


def inline(text):
    # A `literal` span takes no further markup: it may hold asterisks.
    parts = re.split(r"(`[^`]+`)", text)
    out = []
    for part in parts:
        if part.startswith("`") and part.endswith("`") and len(part) > 1:
            out.append("\\fB" + escape(part[1:-1]) + "\\fR")
        else:
            part = escape(part)
            part = re.sub(r"\*\*(.+?)\*\*", r"\\fB\1\\fR", part)
            part = re.sub(r"\*(.+?)\*", r"\\fI\1\\fR", part)
            out.append(part)
    return "".join(out)


def line_out(text):
    # A line that starts with a dot or an apostrophe would be read as a request.
    return "\\&" + text if text[:1] in (".", "'") else text


def convert(lines, version):
    header = shlex.split(lines[0][1:])
    if lines[0][:1] != "%" or len(header) != 3:
        raise SystemExit("first line must be: % NAME SECTION \"DATE\"")
    name, section, date = header
    out = ['.TH %s %s "%s" "Lumivane Viewer %s" "User Commands"' % (name.upper(), section, date, version)]
    i = 1
    paragraph_open = False
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            paragraph_open = False
            i += 1
        elif line.startswith("# "):
            out.append(".SH " + escape(line[2:].strip().upper()))
            paragraph_open = True  # text right after a heading needs no .PP
            i += 1
        elif line.startswith("```"):
            out += [".PP", ".RS 4", ".nf"]
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                out.append(line_out(escape(lines[i])))
                i += 1
            out += [".fi", ".RE"]
            paragraph_open = False
            i += 1
        elif i + 1 < len(lines) and lines[i + 1].startswith(":   "):
            out += [".TP", line_out(inline(line.strip())), line_out(inline(lines[i + 1][4:].strip()))]
            i += 2
            while i < len(lines) and lines[i].startswith("    ") and lines[i].strip():
                out.append(line_out(inline(lines[i].strip())))
                i += 1
            paragraph_open = False
        else:
            if not paragraph_open:
                out.append(".PP")
                paragraph_open = True
            out.append(line_out(inline(line.strip())))
            i += 1
    return "\n".join(out) + "\n"


def main():
    source, output, version = sys.argv[1:4]
    with open(source, encoding="utf-8") as f:
        lines = f.read().splitlines()
    with open(output, "w", encoding="utf-8") as f:
        f.write(convert(lines, version))


if __name__ == "__main__":
    main()
