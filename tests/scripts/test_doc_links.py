"""Every link between the README and the pages under docs/ leads somewhere:
to a file of the repository and, with #anchor, to a heading of that page, as
GitHub names its headings' anchors. Pages move (the measurements were split
by topic); their links must move with them."""

import os
import re

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PAGES = [os.path.join(ROOT, "README.md")] + sorted(
    os.path.join(folder, name) for folder, _, names in os.walk(os.path.join(ROOT, "docs"))
    for name in names if name.endswith(".md"))
LINK = re.compile(r"\]\(([^)\s]+)\)")


def text_outside_code(path):
    """The page's lines outside fenced code blocks, with their numbers."""
    fenced = False
    for number, line in enumerate(open(path, encoding="utf-8"), start=1):
        fenced ^= line.startswith("```")
        if not fenced and not line.startswith("```"):
            yield number, line


def anchors(path):
    """GitHub's anchor of each heading: lower case, punctuation but - and _ dropped, spaces as -."""
    return {re.sub(r"[^\w\- ]", "", line.lstrip("#").strip().lower()).replace(" ", "-")
            for _, line in text_outside_code(path) if line.startswith("#")}


@pytest.mark.parametrize("page", PAGES, ids=lambda p: os.path.relpath(p, ROOT))
def test_every_link_of_a_page_leads_to_a_file_and_heading(page):
    broken = []
    for number, line in text_outside_code(page):
        for target in LINK.findall(line):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            where = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if not os.path.exists(where):
                broken.append(f"line {number}: {target}: no such file")
            elif anchor and where.endswith(".md") and anchor not in anchors(where):
                broken.append(f"line {number}: {target}: no such heading")
    assert broken == []
