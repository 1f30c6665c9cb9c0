"""Query, parse_smarts and parse_reaction: objects, matching, options and errors."""
import pytest

import quorix
from conftest import needs_hooks, make_mol

needs_smiles = pytest.mark.skipif(not hasattr(quorix, "parse_smiles"), reason="SMILES reader not bound yet")
needs_sanitize = pytest.mark.skipif(not hasattr(quorix.Mol, "sanitize"), reason="sanitize not bound yet")

SINGLE, DOUBLE = 1, 2


def chain(n):
    """n carbons in a chain (no hydrogens stored: the molecule is never sanitised)."""
    return make_mol([(6, 0)] * n, [(i, i + 1, SINGLE) for i in range(n - 1)])


def smiles(text):
    return quorix.parse_smiles(text)


# ---- objects ----------------------------------------------------------------


def test_parse_smarts_gives_a_query():
    q = quorix.parse_smarts("C=O")
    assert type(q) is quorix.Query
    assert type(q.num_atoms) is int and q.num_atoms == 2
    assert repr(q) == str(q) == "<quorix.Query 2 atoms>"
    # Each call makes a new object.
    assert quorix.parse_smarts(smarts="C=O") is not q


@pytest.mark.parametrize(
    "text, reactants, products, shown",
    [
        ("C.O>N>CO", 2, 1, "<quorix.Reaction 2 -> 1>"),
        ("(C.C)>>CC.O.N", 1, 3, "<quorix.Reaction 1 -> 3>"),
    ],
)
def test_parse_reaction_counts_templates(text, reactants, products, shown):
    r = quorix.parse_reaction(text)
    assert type(r) is quorix.Reaction
    assert type(r.num_reactant_templates) is int and type(r.num_product_templates) is int
    assert (r.num_reactant_templates, r.num_product_templates) == (reactants, products)
    assert repr(r) == shown


@pytest.mark.parametrize("cls", [quorix.Query, quorix.Reaction])
def test_classes_cannot_be_called(cls):
    with pytest.raises(TypeError) as e:
        cls()
    assert str(e.value) == f"cannot create 'quorix.{cls.__name__}' instances"


def test_text_signatures_and_docstrings():
    assert quorix.parse_smarts.__text_signature__ == "(smarts)"
    assert quorix.Query.match.__text_signature__ == "($self, mol, *, uniquify=True, max_matches=0, use_chirality=True)"
    assert quorix.parse_smarts.__doc__ == "解析 SMARTS。"
    assert quorix.parse_reaction.__doc__ == "解析反应 SMARTS(`反应物>试剂>产物` 的三段式)。"
    assert quorix.Reaction.num_reactant_templates.__doc__ == "反应物模板的个数。调 `run` 时要给同样多的分子。"
    assert quorix.Query.match.__doc__.startswith("找出这个查询在分子里的全部匹配。\n\n返回 `list[list[int]]`")
    assert quorix.Query.match.__doc__.endswith("这一层\n目前还没有复用入口。")


# ---- parse errors: the caret view, unchanged --------------------------------


# The texts themselves are pinned by the engine tests; here: every fault arrives
# as a ValueError carrying the caret view, empty and multi-byte input included.
@pytest.mark.parametrize(
    "fn, text, shown",
    [
        ("parse_smarts", "", "\n^ 空的 SMILES"),
        ("parse_smarts", "C(é", "C(é\n  ^ 无法识别的元素符号 é"),
        ("parse_reaction", "CC", "CC\n^ 方括号原子语法错误:反应缺少 `>>`"),
        ("parse_reaction", "CC>>C=", "CC>>C=\n     ^ 键符号后面缺少原子"),
    ],
)
def test_parse_errors_show_the_caret_view(fn, text, shown):
    with pytest.raises(ValueError) as e:
        getattr(quorix, fn)(text)
    assert type(e.value) is ValueError
    assert str(e.value) == shown


# ---- binding errors ---------------------------------------------------------


@pytest.mark.parametrize("fn", ["parse_smarts", "parse_reaction"])
def test_parse_function_binding_errors(fn):
    f = getattr(quorix, fn)
    cases = [
        (lambda: f(), f"{fn}() missing 1 required positional argument: 'smarts'"),
        (lambda: f("C>>C", "C"), f"{fn}() takes 1 positional arguments but 2 were given"),
        (lambda: f("C>>C", smarts="C>>C"), f"{fn}() got multiple values for argument 'smarts'"),
        (lambda: f(42), "argument 'smarts': 'int' object cannot be cast as 'str'"),
    ]
    for call, text in cases:
        with pytest.raises(TypeError) as e:
            call()
        assert str(e.value) == text
    with pytest.raises(UnicodeEncodeError):
        f("C\ud800")


@needs_hooks
def test_match_binding_errors():
    # Value conversions are the frame's and tested there; here the names match shows.
    q = quorix.parse_smarts("CC")
    m = chain(3)
    cases = [
        (lambda: q.match(), "Query.match() missing 1 required positional argument: 'mol'"),
        (lambda: q.match(m, True), "Query.match() takes 1 positional arguments but 2 were given"),
        (lambda: q.match(m, unique=True), "Query.match() got an unexpected keyword argument 'unique'"),
        (lambda: q.match(m, uniquify=1), "argument 'uniquify': 'int' object cannot be cast as 'bool'"),
    ]
    for call, text in cases:
        with pytest.raises(TypeError) as e:
            call()
        assert str(e.value) == text
    # The largest value is accepted.
    assert q.match(m, max_matches=2**64 - 1) == [[0, 1], [1, 2]]


@needs_hooks
def test_molecule_stays_borrowed_while_options_convert():
    q = quorix.parse_smarts("C")
    m = chain(2)

    class Sneaky:
        def __index__(self):
            quorix._probe_exclusive(m, count=0)
            return 0

    with pytest.raises(RuntimeError) as e:
        q.match(m, max_matches=Sneaky())
    assert str(e.value) == "Already borrowed"
    # Released afterwards.
    assert q.match(m) == [[0], [1]]


# ---- matching ---------------------------------------------------------------


@needs_hooks
def test_match_result_types_and_shape():
    q = quorix.parse_smarts("CCC")
    m = chain(5)
    found = q.match(m)
    assert type(found) is list and all(type(x) is list and all(type(i) is int for i in x) for x in found)
    assert found == [[0, 1, 2], [1, 2, 3], [2, 3, 4]]


@needs_hooks
@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({}, [[0, 1], [1, 2]]),
        ({"uniquify": False}, [[0, 1], [1, 0], [1, 2], [2, 1]]),
        ({"uniquify": False, "max_matches": 3}, [[0, 1], [1, 0], [1, 2]]),
    ],
)
def test_match_options(kwargs, expected):
    assert quorix.parse_smarts("CC").match(chain(3), **kwargs) == expected
    assert quorix.parse_smarts("CC").match(mol=chain(3), **kwargs) == expected


@needs_hooks
def test_match_reads_bond_orders_and_leaves_the_molecule_alone():
    m = make_mol([(6, 0), (6, 0), (8, 0)], [(0, 1, SINGLE), (1, 2, DOUBLE)])
    before = (m.atomic_nums, m.bonds, m.formal_charges)
    assert quorix.parse_smarts("C=O").match(m) == [[1, 2]]
    assert quorix.parse_smarts("O=C").match(m, max_matches=5) == [[2, 1]]
    assert (m.atomic_nums, m.bonds, m.formal_charges) == before


@needs_smiles
def test_use_chirality_reaches_the_search():
    q, m = quorix.parse_smarts("F[C@@](Cl)(Br)I"), smiles("F[C@](Cl)(Br)I")
    assert q.match(m) == [] and q.match(m, use_chirality=False) == [[0, 1, 2, 3, 4]]


@needs_smiles
@needs_sanitize
def test_properties_follow_the_molecule_state():
    q = quorix.parse_smarts("[CH3]")
    m = smiles("CCO")
    assert q.match(m) == []  # never sanitised: no hydrogens stored yet
    m.sanitize()
    assert q.match(m) == [[0]]


@needs_hooks
def test_odd_records_never_crash_the_search():
    # Atomic number beyond the table, an unknown bond-order code, a dative and
    # an unspecified bond: every query still gives a plain answer.
    m = make_mol([(200, 0), (6, 0), (0, 0), (1, 0)], [(0, 1, 9), (1, 2, 6), (2, 3, 0)])
    assert quorix.parse_smarts("*~*").match(m) == [[0, 1], [1, 2], [2, 3]]
    assert quorix.parse_smarts("*->*").match(m) == [[1, 2]]
    assert quorix.parse_smarts("*-*").match(m) == []
    assert quorix.parse_smarts("[$(*~*)]").match(m) == [[0], [1], [2], [3]]
