"""A run's run_conditions.txt: what the machine was like when the run began
and the options it was given, as "Key: value" lines."""

from sortbench_folder import placed
from sortbench_text import read_lines, within_memory


@within_memory
def read_conditions(where):
    """The "Key: value" lines of run_conditions.txt as (key, value) pairs in file
    order, WARNING lines as ("WARNING", text), the banner and anything else
    left out; None when there is no such file (`where`, a Place or a path). Raises Unusable for a file
    that cannot be read.

    Each line is one value, but for an Options line that ends inside a quoted
    argument (an older benchmark quoted a line feed as it was): its value goes
    on to the line that closes the quote, so no line of an argument is taken
    for a line of its own."""
    with placed(where) as place:
        if not place.exists():
            return None
        lines, _ = read_lines(place, "run conditions file")
    pairs = []
    rest = iter(lines)
    for line in rest:
        key, colon, value = line.partition(": ")
        if key == "Options":
            value = "\n".join([value] + list(_quoted_lines(value, rest)))
        if colon and key and not key.startswith("-"):
            pairs.append((key, value.strip()))
    return pairs


def _quoted_lines(text, rest):
    """The lines of `rest` an argument opened in `text` goes on to, quoted as
    the benchmark quotes its options: 'single quotes', with \\' between them."""
    inside = False
    while True:
        escaped = False
        for char in text:
            if inside:
                inside = char != "'"
            elif escaped:
                escaped = False
            else:
                escaped, inside = char == "\\", char == "'"
        text = next(rest, None) if inside else None
        if text is None:
            return
        yield text
