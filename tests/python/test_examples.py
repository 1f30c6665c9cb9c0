"""The README's example script keeps running against the module as it grows."""
import pathlib
import subprocess
import sys

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def test_quickstart_runs():
    out = subprocess.run([sys.executable, str(EXAMPLES / "quickstart.py")], capture_output=True,
                         text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines[0] == "quorix 0.0.7"
    assert lines[1] == "<quorix.Mol 6 atoms, 5 bonds>"
    assert "  bond 3-4, order 2.0" in lines
    assert lines[-2:] == ["C1CC", " ^ 环闭合标号 1 未配对"]
