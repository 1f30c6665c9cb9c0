"""The README's example script keeps running against the module as it grows."""
import pathlib
import subprocess
import sys

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"

QUICKSTART = """\
quorix 0.0.7
<quorix.Mol 13 atoms, 13 bonds>
canonical: CC(=O)Oc1ccccc1C(O)=O True
canonical: CC(=O)Oc1ccccc1C(O)=O True
carboxylic acid atoms: [[10, 11, 12]]
ester atoms: [[0, 1, 2, 3, 4]]
  oxygen 2: charge -0.252
  oxygen 3: charge -0.426
  oxygen 11: charge -0.246
  oxygen 12: charge -0.478
ester: ['CC(=O)OCC'] capped ['O']
sdf: CCO [('NAME', 'ethanol')]
sdf: 第 4 行x 读不出来 []
parse error:
C1CC
 ^ 环闭合标号 1 未配对
"""


def test_quickstart_prints_what_it_shows():
    out = subprocess.run([sys.executable, str(EXAMPLES / "quickstart.py")], capture_output=True,
                         text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout == QUICKSTART
