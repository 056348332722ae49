"""The chart: a valid PNG of the expected size with the points drawn, for an
hour and for a long log; SVG by the name."""

import struct
import subprocess
import sys
import zlib

from conftest import GENLOG, run_report

WIDTH, HEIGHT = 1400, 800


def check_png(path):
    """A whole PNG of WIDTH x HEIGHT: signature, chunks with their CRCs, IEND."""
    data = open(str(path), "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, chunks = 8, []
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        crc, = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        assert zlib.crc32(kind + body) & 0xFFFFFFFF == crc, kind
        chunks.append((kind, body))
        at += 12 + length
    assert chunks[0][0] == b"IHDR" and chunks[-1][0] == b"IEND"
    width, height = struct.unpack(">II", chunks[0][1][:8])
    assert (width, height) == (WIDTH, HEIGHT)


def pixels(path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.image
    return matplotlib.image.imread(str(path))


def count_colour(path, colour, region=None):
    """Pixels of exactly this colour (give or take rounding), in the region
    (top, bottom) of rows as fractions of the height."""
    image = pixels(path)
    r, g, b = (int(colour[i:i + 2], 16) / 255.0 for i in (1, 3, 5))
    if region:
        image = image[int(region[0] * len(image)):int(region[1] * len(image))]
    close = ((abs(image[:, :, 0] - r) < 0.01) & (abs(image[:, :, 1] - g) < 0.01) &
             (abs(image[:, :, 2] - b) < 0.01))
    return int(close.sum())


def generate(tmp_path, name, *args):
    path = tmp_path / name
    subprocess.run([sys.executable, GENLOG, "-o", str(path)] + list(args), check=True,
                   stderr=subprocess.DEVNULL)
    return path


def test_one_hour_chart(tmp_path):
    log = generate(tmp_path, "hour.log", "--hours", "1")
    out = tmp_path / "hour.png"
    r = run_report(log, "-o", out, "--now", "2025-01-01 01:00")
    assert r.status == 0, r.err
    check_png(out)
    # The differences in the top panel (above 60 % of the height), one dot
    # (about 4 px across) for each of the 59 valid polls.
    assert count_colour(out, "#1f77b4", (0.08, 0.6)) > 59 * 4
    # The bars in the bottom panel: the share valid coloured, no dots there.
    assert count_colour(out, "#1f77b4", (0.75, 1.0)) == 0
    assert bars_drawn(out)
    # Blank would be nearly all white.
    assert count_colour(out, "#ffffff") < 0.9 * WIDTH * HEIGHT


def bars_drawn(path):
    """Any coloured (not grey, not white) pixels in the bars' panel."""
    image = pixels(path)[int(0.75 * HEIGHT):int(0.9 * HEIGHT), int(0.2 * WIDTH):int(0.9 * WIDTH)]
    coloured = (abs(image[:, :, 0] - image[:, :, 1]) > 0.2) | (abs(image[:, :, 1] - image[:, :, 2]) > 0.2)
    return int(coloured.sum()) > 1000


def test_long_chart_shows_reasons_and_bars(tmp_path):
    log = generate(tmp_path, "days.log", "--days", "10")
    out = tmp_path / "days.png"
    r = run_report(log, "-o", out)
    assert r.status == 0, r.err
    check_png(out)
    # Ten days: the differences as a band per bin (5 to 95 %), its median
    # and its worst, no longer a dot a poll.
    assert count_colour(out, "#9ecae1", (0.08, 0.6)) > 5000
    assert count_colour(out, "#1f77b4", (0.08, 0.6)) > 300
    assert count_colour(out, "#08306b", (0.08, 0.6)) > 300
    for colour in ("#d62728", "#9467bd", "#bcbd22", "#ff7f0e"):  # parity, marks ticks
        assert count_colour(out, colour) > 20, colour
    assert bars_drawn(out)


def test_svg_by_name(tmp_path):
    log = generate(tmp_path, "hour.log", "--hours", "2")
    out = tmp_path / "hour.svg"
    r = run_report(log, "-o", out)
    assert r.status == 0, r.err
    text = out.read_text()
    assert text.startswith("<?xml") and "<svg" in text and text.rstrip().endswith("</svg>")


def test_log_without_polls_still_charts(tmp_path):
    log = tmp_path / "start.log"
    log.write_text("01.02.2025 10:00:00 /dev/ttyS0 not opened\n"
                   "01.02.2025 10:00:05 Return errno 254\n")
    out = tmp_path / "start.png"
    r = run_report(log, "-o", out)
    assert r.status == 0, r.err
    assert r.number("polls") == 0
    check_png(out)


def test_unwritable_chart_is_status_3_after_the_summary(tmp_path):
    log = generate(tmp_path, "hour.log", "--hours", "1")
    r = run_report(log, "-o", tmp_path / "no-such-dir" / "x.png")
    assert r.status == 3
    assert r.number("polls") == 60
    assert "no chart" in r.err


def with_discipline(path):
    """The log with a clock discipline's correction after each Time diff,
    its offset the difference's tenth and a frequency that settles."""
    lines, n = [], 0
    for line in open(str(path)).read().splitlines(True):
        lines.append(line)
        if line[20:].startswith("Time diff: "):
            n += 1
            lines.append("%sDiscipline: offset %+.1f ms, frequency %+.1f ppm\n" % (
                line[:20], (-1) ** n * 0.1 * (n % 17), -50.0 + 40.0 / n))
    path.write_text("".join(lines))
    return n


def test_discipline_lines_get_their_panel_and_summary(tmp_path):
    log = generate(tmp_path, "disc.log", "--hours", "3")
    n = with_discipline(log)
    out = tmp_path / "disc.png"
    r = run_report(log, "-o", out)
    assert r.status == 0, r.err
    check_png(out)
    assert r.value("corrections") == "%d, samples dropped: 0" % n
    assert r.value("frequency").startswith("last -49.")
    # The offsets (green) and the frequency (red) in their own panel.
    assert count_colour(out, "#2ca02c", (0.55, 0.8)) > n
    assert count_colour(out, "#d62728", (0.55, 0.8)) > 200
    # Without the lines: no such panel, no such section.
    plain = generate(tmp_path, "plain.log", "--hours", "3")
    r = run_report(plain, "-o", tmp_path / "plain.png")
    assert "== Clock discipline ==" not in r.out
    assert count_colour(tmp_path / "plain.png", "#2ca02c") == 0
