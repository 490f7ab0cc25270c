#!/usr/bin/env python3
"""Writes the help page that ships beside the program from the user guide.

    help_page.py tolvane-help.html docs/user-guide.md docs/64-bit.md

The guides follow one another on the page, and a link from one to another
goes to its heading. Their Markdown is the small part of it the guide uses: headings,
paragraphs, lists, tables, code, emphasis and links. Pictures and links to
the repository's other pages are left out (the page ships alone), and so is
the section for the program's developers. The page is UTF-8 HTML that any
browser of the program's systems shows.
"""
import html
import os
import re
import sys

# Sections for developers, not for the program's users.
LEFT_OUT_SECTIONS = {"Taking the screenshots again"}


def anchor(title):
    """The anchor a Markdown renderer gives a heading, so that the guide's
    own links into itself keep working."""
    text = re.sub(r"[^\w\- ]", "", title.lower())
    return text.replace(" ", "-")


def inline(text, pages):
    """Code, emphasis and links of one line or paragraph. A link to another
    page that is part of this one goes to its heading."""
    codes = []

    def keep_code(match):
        codes.append("<code>%s</code>" % html.escape(match.group(1)))
        return "\0%d\0" % (len(codes) - 1)

    text = re.sub(r"`([^`]*)`", keep_code, text)
    text = html.escape(text, quote=False)
    text = re.sub(r"\*\*([^*]+)\*\*", r"<b>\1</b>", text)

    def link(match):
        label, target = match.group(1), match.group(2)
        if target in pages:
            target = "#" + pages[target]
        if target.startswith("#") or re.match(r"https?://", target):
            return '<a href="%s">%s</a>' % (html.escape(target), label)
        return label

    text = re.sub(r"\[([^\]]+)\]\(([^)\s]+)\)", link, text)
    return re.sub("\0(\\d+)\0", lambda match: codes[int(match.group(1))], text)


def table_cells(line):
    return [cell.strip() for cell in line.strip().strip("|").split("|")]


def convert(lines, pages):
    body = []
    paragraph = []
    items = []
    skipping = False

    def flush():
        if paragraph:
            body.append("<p>%s</p>" % inline(" ".join(paragraph), pages))
            paragraph.clear()
        if items:
            body.append("<ul>")
            body.extend("<li>%s</li>" % inline(item, pages) for item in items)
            body.append("</ul>")
            items.clear()

    index = 0
    while index < len(lines):
        line = lines[index].rstrip("\n")
        index += 1
        heading = re.match(r"^(#{1,6})\s+(.*)$", line)
        if heading:
            flush()
            level, title = len(heading.group(1)), heading.group(2).strip()
            if level <= 2:
                skipping = title in LEFT_OUT_SECTIONS
            if skipping:
                continue
            body.append('<h%d id="%s">%s</h%d>' % (level, anchor(heading.group(2).strip()),
                                                   inline(title, pages), level))
            continue
        if skipping:
            continue
        if line.startswith("```"):
            flush()
            code = []
            while index < len(lines) and not lines[index].startswith("```"):
                code.append(lines[index].rstrip("\n"))
                index += 1
            index += 1
            body.append("<pre>%s</pre>" % html.escape("\n".join(code)))
            continue
        if not line.strip():
            flush()
            continue
        # A picture, or a line that is only a link to another page of the
        # repository: nothing of it is shown alone.
        if re.match(r"^!\[[^\]]*\]\([^)]*\)\s*$", line) or re.match(
                r"^\[[^\]]*\]\((?!#|https?://)[^)]*\)\s*$", line):
            flush()
            continue
        if line.startswith("|"):
            flush()
            rows = [line]
            while index < len(lines) and lines[index].startswith("|"):
                rows.append(lines[index].rstrip("\n"))
                index += 1
            body.append("<table>")
            for number, row in enumerate(rows):
                if number == 1 and re.match(r"^\|[\s|:-]+\|?$", row):
                    continue
                tag = "th" if number == 0 else "td"
                body.append("<tr>%s</tr>" % "".join(
                    "<%s>%s</%s>" % (tag, inline(cell, pages), tag) for cell in table_cells(row)))
            body.append("</table>")
            continue
        item = re.match(r"^[-*]\s+(.*)$", line)
        if item:
            if paragraph:
                flush()
            items.append(item.group(1))
            continue
        if items and line.startswith(" "):
            items[-1] += " " + line.strip()
            continue
        paragraph.append(line.strip())
    flush()
    return body


STYLE = """body { font-family: sans-serif; max-width: 50em; margin: 1em auto; padding: 0 1em; }
table { border-collapse: collapse; }
th, td { border: 1px solid #999; padding: 0.2em 0.5em; text-align: left; vertical-align: top; }
code { background: #eee; }"""


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: help_page.py page.html guide.md [more.md ...]")
    guides = sys.argv[2:]
    texts = []
    pages = {}
    for name in guides:
        with open(name, encoding="utf-8") as guide:
            lines = guide.readlines()
        texts.append(lines)
        title = next((line[2:].strip() for line in lines if line.startswith("# ")), name)
        pages[os.path.basename(name)] = anchor(title)
    body = []
    for lines in texts:
        body += convert(lines, pages)
    page = ["<!DOCTYPE html>", "<html>", "<head>",
            '<meta http-equiv="Content-Type" content="text/html; charset=utf-8">',
            "<title>Tolvane</title>", "<style>", STYLE, "</style>", "</head>", "<body>"]
    page += body
    page += ["</body>", "</html>", ""]
    with open(sys.argv[1], "w", encoding="utf-8", newline="\r\n") as out:
        out.write("\n".join(page))


if __name__ == "__main__":
    main()
