"""read_sdf and SdfRecord: one record per record of the text, bad ones included."""
import os

import pytest

import quorix

DATA = os.path.join(os.path.dirname(__file__), "..", "data")


def record(symbols, data=(), counts=None):
    text = "t\n  p\n\n" + (counts or f"{len(symbols):3d}  0  0  0  0  0  0  0  0  0999 V2000") + "\n"
    text += "".join(f"{0:10.4f}{0:10.4f}{0:10.4f} {s:<3} 0  0  0  0  0  0  0  0  0  0  0  0\n" for s in symbols)
    text += "M  END\n"
    for name, value in data:
        text += f">  <{name}>\n{value}\n\n"
    return text


V3000 = "t\n  p\n\n  0  0  0     0  0            999 V3000\nM  END\n"


@pytest.mark.parametrize("text", ["", "  \n\t\n", "$$$$\n", "\n$$$$\n \n$$$$\n"])
def test_empty_texts(text):
    assert quorix.read_sdf(text) == []


@pytest.mark.parametrize("closing", ["$$$$\n", "", "$$$$"])
def test_two_records(closing):
    records = quorix.read_sdf(record(["C"]) + "$$$$\n\n$$$$\n" + record(["O"]) + closing)
    assert [r.block.mol.atomic_nums for r in records] == [[6], [8]]


def test_bad_record_keeps_its_place():
    records = quorix.read_sdf(
        text=record(["C"], [("id", "1")]) + "$$$$\n" + V3000 + "$$$$\n" + record(["N"], [("id", "3")]) + "$$$$\n"
    )
    assert len(records) == 3
    bad = records[1]
    assert bad.block is None and bad.data == []
    assert bad.error == "这是 V3000,本模块只读 V2000"
    assert repr(bad) == "<quorix.SdfRecord 读不了:这是 V3000,本模块只读 V2000>"
    assert [r.error for r in (records[0], records[2])] == [None, None]
    assert records[2].data == [("id", "3")]


def test_unsanitizable_record_keeps_its_data():
    # A carbon with five fluorines reads, then fails the valence check.
    text = "t\n  p\n\n  6  5  0  0  0  0  0  0  0  0999 V2000\n"
    text += "".join(f"{k:10.4f}{0:10.4f}{0:10.4f} {s:<3} 0  0  0  0  0  0  0  0  0  0  0  0\n"
                    for k, s in enumerate("CFFFFF"))
    text += "".join(f"  1{k:3d}  1  0  0  0  0\n" for k in range(2, 7)) + "M  END\n>  <n>\n5\n\n"
    (rec,) = quorix.read_sdf(text)
    assert rec.block is None and rec.data == [("n", "5")]
    assert rec.error.startswith("价键计算失败:")


def test_duplicates_repr_and_copies():
    (rec,) = quorix.read_sdf(record(["C", "C", "O", "N", "S"], [("MW", "180.2"), ("MW", "181")]))
    assert rec.data == [("MW", "180.2"), ("MW", "181")]
    assert repr(rec) == "<quorix.SdfRecord 5 atoms, 2 fields>"
    first, second = rec.block, rec.block
    assert first is not second and first.coords == second.coords and first.title == second.title == "t"
    first.mol.remove_hs()
    rec.data.append(("x", "y"))
    assert len(rec.data) == 2


def test_real_file_every_record_reads():
    with open(os.path.join(DATA, "pubchem-1000.sdf"), encoding="utf-8") as f:
        records = quorix.read_sdf(f.read())
    assert len(records) == 1000
    assert [r.error for r in records if r.error] == []
    ids = [dict(r.data)["PUBCHEM_COMPOUND_CID"] for r in records]
    assert [r.block.title for r in records] == ids
    assert all(not r.block.is_3d for r in records)
