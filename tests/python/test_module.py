import importlib
import sys

import pytest

import quorix
from conftest import needs_hooks, make_mol


def test_version_and_all():
    assert quorix.__version__ == "0.0.7"
    assert isinstance(quorix.__all__, list)
    # Names appear in the order the module body adds them.
    expected_order = [
        "__version__", "Mol", "Conformer", "Query", "Reaction", "Outcome", "Molblock",
        "SdfRecord", "parse_smiles", "parse_smarts", "parse_reaction", "parse_molblock", "read_sdf",
    ]
    present = [n for n in expected_order if n in quorix.__all__]
    assert quorix.__all__ == present
    for name in quorix.__all__:
        assert hasattr(quorix, name)
    assert quorix.__doc__ == ""


def test_import_again_gives_the_same_module_and_classes():
    mol_type = quorix.Mol
    assert importlib.import_module("quorix") is quorix
    saved = sys.modules.pop("quorix")
    try:
        again = importlib.import_module("quorix")
        assert again is saved
        assert again.Mol is mol_type
    finally:
        sys.modules["quorix"] = saved


def test_class_identity():
    assert quorix.Mol.__module__ == "quorix"
    assert quorix.Mol.__name__ == "Mol"
    assert repr(quorix.Mol) == "<class 'quorix.Mol'>"
    assert quorix.Mol.__doc__.startswith("一个分子。\n")
    assert quorix.Mol.copy.__text_signature__ == "($self)"


@pytest.mark.parametrize("call", [
    lambda: quorix.Mol(),
    lambda: quorix.Mol.__new__(quorix.Mol),
])
def test_construction_refused(call):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == "cannot create 'quorix.Mol' instances"


def test_subclassing_refused():
    with pytest.raises(TypeError):
        class Sub(quorix.Mol):
            pass


@pytest.mark.skipif(sys.version_info < (3, 10), reason="immutable types need 3.10")
def test_class_attributes_cannot_be_replaced():
    with pytest.raises(TypeError):
        quorix.Mol.copy = None
    assert callable(quorix.Mol.copy)


@needs_hooks
def test_instances_have_no_dict_or_weakref():
    import weakref

    m = make_mol([(6, 0)])
    with pytest.raises(AttributeError):
        m.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(m)


@needs_hooks
def test_equality_and_hash_are_identity():
    a = make_mol([(6, 0)])
    b = a.copy()
    assert a == a and a != b
    assert hash(a) == object.__hash__(a)
    assert len({a, b, a}) == 2


def test_member_order():
    # Methods come first in the type's namespace, then the properties, each in
    # their fixed relative order.
    names = [n for n in vars(quorix.Mol) if not n.startswith("__")]
    methods = [n for n in names if callable(vars(quorix.Mol)[n])]
    getters = [n for n in names if n not in methods]
    order = ["num_atoms", "num_bonds", "atomic_nums", "sanitize", "to_smiles", "to_canonical_smiles",
             "remove_hs", "formal_charges", "bonds", "conformer", "to_molblock_2d", "depiction_report",
             "atom_descriptors", "bond_descriptors", "copy"]
    assert methods == [n for n in order if n in methods]
    assert getters == [n for n in order if n in getters]
    assert set(names) <= set(order)


def test_second_interpreter_is_refused():
    subinterpreters = pytest.importorskip("_xxsubinterpreters")
    interp = subinterpreters.create()
    try:
        with pytest.raises(Exception) as e:
            subinterpreters.run_string(interp, "import quorix")
        assert "ImportError" in str(e.value)
        assert "sub-interpreters are not supported" in str(e.value)
    finally:
        subinterpreters.destroy(interp)
    # The first interpreter keeps working.
    assert quorix.Mol.__name__ == "Mol"
