"""parse_smiles: text in, an unsanitised Mol out, caret-view errors."""
import pytest

import quorix


def value_error(text):
    with pytest.raises(ValueError) as e:
        quorix.parse_smiles(text)
    assert type(e.value) is ValueError
    return str(e.value)


def test_signature_and_docstring():
    f = quorix.parse_smiles
    assert f.__module__ == "quorix"
    assert f.__text_signature__ == "(smiles)"
    assert f.__doc__.startswith("解析 SMILES,返回一个 `Mol`。\n\n解析失败时抛 `ValueError`")
    assert "**只解析,不净化。**" in f.__doc__


def test_alanine():
    m = quorix.parse_smiles("C[C@H](N)C(=O)O")
    assert type(m) is quorix.Mol
    assert repr(m) == "<quorix.Mol 6 atoms, 5 bonds>"
    assert m.atomic_nums == [6, 6, 7, 6, 8, 8]
    assert m.formal_charges == [0] * 6
    assert m.bonds == [(0, 1, 1.0), (1, 2, 1.0), (1, 3, 1.0), (3, 4, 2.0), (3, 5, 1.0)]


@pytest.mark.parametrize("smiles, nums, charges, bonds", [
    ("C*O", [6, 0, 8], [0, 0, 0], [(0, 1, 1.0), (1, 2, 1.0)]),
    ("[O-][N+](=O)C", [8, 7, 8, 6], [-1, 1, 0, 0], [(0, 1, 1.0), (1, 2, 2.0), (1, 3, 1.0)]),
    ("C$C", [6, 6], [0, 0], [(0, 1, 4.0)]),
    ("C<-N", [6, 7], [0, 0], [(1, 0, 1.0)]),
])
def test_parsed_records(smiles, nums, charges, bonds):
    m = quorix.parse_smiles(smiles)
    assert (m.atomic_nums, m.formal_charges, m.bonds) == (nums, charges, bonds)
    assert (m.num_atoms, m.num_bonds) == (len(nums), len(bonds))


@pytest.mark.parametrize("text, view", [
    ("", "\n^ 空的 SMILES"),
    ("CC\t", "CC\t\n  ^ 意外的字符 '\\t'"),
    ("C\0", "C\0\n ^ 意外的字符 '\\0'"),
])
def test_caret_view_errors(text, view):
    assert value_error(text) == view


def test_caret_counts_characters_not_bytes():
    # Every non-ASCII character is itself a fault, so the fault here stands at
    # the first of them: two blanks, whatever its UTF-8 length.
    for ch in "é氯😀":
        assert value_error("CC" + ch + ch).startswith("CC" + ch + ch + "\n  ^ 意外的字符 ")


# The call frame's every fault is tested on its own; here the names this function shows.
@pytest.mark.parametrize("call, message", [
    (lambda: quorix.parse_smiles(), "parse_smiles() missing 1 required positional argument: 'smiles'"),
    (lambda: quorix.parse_smiles(42), "argument 'smiles': 'int' object cannot be cast as 'str'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_large_inputs_do_not_recurse():
    chain = quorix.parse_smiles("C" * 200_000)
    assert (chain.num_atoms, chain.num_bonds) == (200_000, 199_999)
    with pytest.raises(ValueError):
        quorix.parse_smiles("C(" * 50_000)


def test_garbage_never_crashes():
    import random

    rng = random.Random(20261206)
    alphabet = "CNOScnos()[]=#$:/\\.%@+-<>0123456789HlrBF*é氯 \t\0"
    for _ in range(3000):
        text = "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 24)))
        try:
            m = quorix.parse_smiles(text)
        except ValueError as e:
            first, second = str(e).split("\n", 1)
            assert first == text
            assert second.lstrip(" ").startswith("^ ")
            assert len(second) - len(second.lstrip(" ")) <= len(text)
        else:
            assert m.num_atoms > 0 and len(m.bonds) == m.num_bonds
