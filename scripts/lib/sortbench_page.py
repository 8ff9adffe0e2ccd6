"""The pieces of a self-contained HTML page: every text escaped, styles
inline, charts as inline SVG, no script and nothing fetched from elsewhere, so
a browser shows it from the file alone."""

import html
import math
import re

from sortbench_tool import printable

CSS = """
body { font: 14px/1.45 "DejaVu Sans", "Liberation Sans", Arial, sans-serif; color: #1a1a1a;
       margin: 0 auto; padding: 1em 2em 3em; max-width: 1400px; }
h1 { font-size: 1.6em; margin: 0.4em 0; }
h2 { font-size: 1.3em; margin: 1.6em 0 0.4em; border-bottom: 2px solid #ccc; padding-bottom: 0.2em; }
h3 { font-size: 1.05em; margin: 1.2em 0 0.3em; }
nav ul { columns: 4; list-style: none; padding: 0; }
a { color: #1f5fa8; }
table { border-collapse: collapse; margin: 0.5em 0 1em; font-size: 12.5px; }
th, td { border: 1px solid #d4d4d4; padding: 3px 6px; vertical-align: top; }
th { background: #f0f0f0; text-align: left; }
td.num, th.num { text-align: right; }
th.num { white-space: nowrap; }
td .spread, td .test { display: block; color: #555; font-size: 11px; }
td .speedup { display: block; color: #114e8a; font-size: 11.5px; }
td.noisy { background: #fff0d9; }
td.slower { background: #fbe0df; }
td.faster { background: #dff3df; }
tr.mean td { font-weight: bold; background: #f7f7f7; }
.warning { color: #8a4b00; font-weight: bold; }
.note { color: #444; font-size: 12.5px; max-width: 70em; }
.chart { margin: 0.5em 0; }
.chart svg { width: 100%; max-width: 1000px; height: auto; display: block; }
.wide { overflow-x: auto; }
"""

_SVG_ID = re.compile(r'\bid="([^"]+)"')
_SVG_REF = re.compile(r'(href="#|url\(#)([^")]+)')


def esc(text):
    """Text as HTML shows it literally, control characters spelt out as the tools' lines do."""
    return html.escape(printable(text), quote=True)


def significant(value, digits=4):
    """A number with `digits` significant digits and no exponent: 0.004931, 146.5, 12346."""
    if value == 0:
        return "0"
    decimals = max(0, digits - 1 - math.floor(math.log10(abs(value))))
    return f"{value:.{decimals}f}"


def signed_percent(percent):
    """+0.04%, -3.2%, +12%: two decimals below 1%, one below 10%, none above; 0% when it rounds to nothing."""
    decimals = 2 if abs(percent) < 1 else 1 if abs(percent) < 10 else 0
    text = f"{percent:+.{decimals}f}%"
    return "0%" if float(text[:-1]) == 0 else text


def anchor(text):
    """An id for a heading: letters, digits and dashes."""
    return re.sub(r"[^A-Za-z0-9-]+", "-", text).strip("-").lower()


def scoped_svg(svg, prefix):
    """An SVG element whose ids (and the references to them) start with
    `prefix`, so that charts in one page never share an id."""
    svg = _SVG_ID.sub(lambda m: f'id="{prefix}-{m.group(1)}"', svg)
    return _SVG_REF.sub(lambda m: f"{m.group(1)}{prefix}-{m.group(2)}", svg)


def chart(svg, prefix, title):
    """A chart in the page, its ids scoped by `prefix` (also the figure's id);
    the title, drawn inside the picture, names it for screen readers."""
    return (f'<figure class="chart" id="{prefix}" role="img" aria-label="{esc(title)}">'
            f'{scoped_svg(svg, prefix)}</figure>')


def cell(parts, classes=(), title=None):
    """A table cell of (class, text) parts, each its own span; a part without a
    class is the cell's main text."""
    inner = "".join(f'<span class="{c}">{esc(t)}</span>' if c else esc(t) for c, t in parts if t is not None)
    attributes = f' class="{" ".join(classes)}"' if classes else ""
    attributes += f' title="{esc(title)}"' if title else ""
    return f"<td{attributes}>{inner}</td>"


def table(head, rows, row_classes=None):
    """A table: `head` the header texts, `rows` lists of ready <td> cells."""
    out = ['<div class="wide"><table><thead><tr>', "".join(f"<th>{esc(h)}</th>" for h in head),
           "</tr></thead><tbody>"]
    for k, row in enumerate(rows):
        css = f' class="{row_classes[k]}"' if row_classes and row_classes[k] else ""
        out.append(f"<tr{css}>{''.join(row)}</tr>")
    out.append("</tbody></table></div>")
    return "".join(out)


def pairs_table(pairs, warn=()):
    """A two-column table of (key, value) texts; keys in `warn` drawn as warnings."""
    rows = [[f"<th>{esc(k)}</th>", f'<td class="warning">{esc(v)}</td>' if k in warn else f"<td>{esc(v)}</td>"]
            for k, v in pairs]
    return "<table><tbody>" + "".join(f"<tr>{''.join(r)}</tr>" for r in rows) + "</tbody></table>"


def section(heading, body, level=2):
    """A section with its heading's anchor as id."""
    return f'<section id="{anchor(heading)}"><h{level}>{esc(heading)}</h{level}>{body}</section>'


def paragraph(text, css="note"):
    return f'<p class="{css}">{esc(text)}</p>'


def contents(headings):
    items = "".join(f'<li><a href="#{anchor(h)}">{esc(h)}</a></li>' for h in headings)
    return f"<nav><ul>{items}</ul></nav>"


def page(title, parts):
    """The whole document."""
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            f"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>{esc(title)}</title>"
            f"<style>{CSS}</style></head><body><h1>{esc(title)}</h1>{''.join(parts)}</body></html>\n")
