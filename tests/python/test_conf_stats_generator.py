"""The compiled statistics tables are exactly what their generator writes."""
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_generator_reproduces_the_committed_tables():
    out = subprocess.run([sys.executable, str(ROOT / "tools" / "gen_conf_stats.py")], check=True,
                         capture_output=True).stdout
    assert out == (ROOT / "src" / "conf" / "stats_tables.inc").read_bytes()
