"""The rules by which doc_examples.py reads the documents and compares outputs."""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import doc_examples  # noqa: E402

# shown output, printed output, whether they match
MATCHES = [
    (["# uptake_g_per_m2 = 24.5162"], ["# uptake_g_per_m2 = 24.516227951191013"], True),
    (["# uptake_g_per_m2 = 24.5162"], ["# uptake_g_per_m2 = 24.51428404195622"], False),
    (["# uptake_g_per_m2 = 24.516227951191013"], ["# uptake_g_per_m2 = 24.51622795119101"], False),
    (["1.25"], ["1.245"], True),                      # a tie rounds either way
    (["1.25"], ["1.2449"], False),
    (["5e-04,0.01"], ["5e-04,0.01"], True),
    (["5e-04,0.01"], ["0.0005,0.01"], True),           # the same number, spelt otherwise
    (["6.60e-05"], ["6.601648370206154e-05"], True),
    (["6.61e-05"], ["6.601648370206154e-05"], False),
    (["0.050000"], ["0.0500004"], True),
    (["000 \t0.000000"], ["000 \t0.000000\t"], True),  # trailing blanks do not count
    (["stage2,1"], ["stage1,1"], False),
    (["x_m,c"], ["t_s,c"], False),
    (["1800,0.000375"], ["1800,0.0003749463138493415", "3600,0.0005"], False),
    (["a", "...", "z"], ["a", "z"], True),
    (["a", "...", "z"], ["a", "b", "c", "z"], True),
    (["a", "…"], ["a", "b"], True),
    (["a", "...", "z"], ["a", "b", "c"], False),
    (["...", "0.95,6.98e-05"], ["quantile,depth_m", "0.95,6.977247775704604e-05"], True),
    ([], ["anything"], False),
    (["nan"], ["0"], False),
]


@pytest.mark.parametrize("shown,actual,match", MATCHES)
def test_comparison(shown, actual, match):
    assert (doc_examples.align(shown, actual) is not None) == match


# shown output, printed output, what --update writes
REFRESHES = [
    (["# uptake_g_per_m2 = 24.516227951191013"], ["# uptake_g_per_m2 = 24.51428404195622"],
     ["# uptake_g_per_m2 = 24.51428404195622"]),
    (["# uptake_g_per_m2 = 24.5162"], ["# uptake_g_per_m2 = 24.51428404195622"],
     ["# uptake_g_per_m2 = 24.5143"]),
    (["0.05,6.60e-05", "..."], ["0.05,6.651e-05", "0.25,1"], ["0.05,6.65e-05", "..."]),
    (["a", "...", "x = 1"], ["a", "b", "x = 2"], ["a", "...", "x = 2"]),
    (["x = 1"], ["y = 1", "z = 2"], ["y = 1", "z = 2"]),  # the lines changed
    (["# a = 1", "...", "# s = explicit", "x,c", "0,1", "..."],
     ["# a = 1", "# b = 2", "# s = implicit", "# u = 3", "x,c", "0,1", "1,2"],
     ["# a = 1", "...", "# s = implicit", "# u = 3", "x,c", "0,1", "..."]),
    (["t,d", "1800,0.1", "3600,0.000531", "...", "14400,0.4", "..."],
     ["t,d", "1800,0.1", "3600,0.0005300739", "5400,0.3", "14400,0.4", "16200,0.5"],
     ["t,d", "1800,0.1", "3600,0.000530", "...", "14400,0.4", "..."]),
]


@pytest.mark.parametrize("shown,actual,refreshed", REFRESHES)
def test_refresh(shown, actual, refreshed):
    new, _ = doc_examples.refreshed_output(shown, actual)
    assert new == refreshed
    assert doc_examples.align(new, actual) is not None


MARKDOWN = """\
<!-- doc-example: files=a.toml,b.csv -->
```
$ diffusim one \\
      --flag | tail -1
out 1
$ diffusim two
```

```sh
diffusim three
```

```python
print(4)
```
"""

ROFF = r""".RS
.\" doc-example: stderr exit=2
.nf
$ diffusim profile \-\-time 0
diffusim profile: \-\-time: the time must be above 0
\&...
.fi
.RE
"""


def test_markdown_blocks():
    blocks = doc_examples.markdown_blocks("x.md", MARKDOWN)
    assert [b.kind for b in blocks] == ["example", "commands"]
    one, two = blocks[0].commands
    assert one.text == "diffusim one \\\n      --flag | tail -1" and one.shown == ["out 1"]
    assert two.text == "diffusim two" and two.shown == []
    assert blocks[0].marker == {"files": "a.toml,b.csv"}
    assert blocks[1].marker == {}


def test_roff_blocks():
    [block] = doc_examples.roff_blocks("x.1", ROFF)
    [command] = block.commands
    assert command.text == "diffusim profile --time 0"
    assert command.shown == ["diffusim profile: --time: the time must be above 0", "..."]
    assert block.marker == {"stderr": True, "exit": "2"}
    assert doc_examples.roff_text(doc_examples.roff_escape("5e-06 \\ .x")) == "5e-06 \\ .x"


def test_unknown_marker_is_refused():
    with pytest.raises(ValueError):
        doc_examples.parse_marker("stdrr")
