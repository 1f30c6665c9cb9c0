"""The call frame: argument binding, conversion, borrows and failure translation.

Reached through the test build's probe functions, which bind and convert the
same way every method of the module does."""
import gc
import sys

import pytest

import quorix
from conftest import needs_hooks, make_mol

pytestmark = needs_hooks


@pytest.fixture
def mol():
    return make_mol([(6, 0), (8, 0)], [(0, 1, 1)])


def probe(*args, **kwargs):
    return quorix._probe_shared(*args, **kwargs)


def type_error(call):
    with pytest.raises(TypeError) as e:
        call()
    assert type(e.value) is TypeError
    return str(e.value)


# -- binding ----------------------------------------------------------------

def test_binding_errors(mol):
    cases = [
        (lambda: probe(), "_probe_shared() missing 1 required positional argument: 'mol'"),
        (lambda: probe(mol, "a", "b"),
         "_probe_shared() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: quorix._make_mol(),
         "_make_mol() missing 2 required positional arguments: 'atoms' and 'bonds'"),
        (lambda: probe(mol, foo=1), "_probe_shared() got an unexpected keyword argument 'foo'"),
        (lambda: probe(mol, mol=mol), "_probe_shared() got multiple values for argument 'mol'"),
        (lambda: quorix._probe_exclusive(mol),
         "Mol._probe_exclusive() missing 1 required keyword argument: 'count'"),
        (lambda: quorix._probe_exclusive(mol, 3),
         "Mol._probe_exclusive() takes 1 positional arguments but 2 were given"),
    ]
    for call, text in cases:
        assert type_error(call) == text


def test_binding_errors_without_positional_parameters():
    probe_kw = quorix._probe_keywords
    cases = [
        (lambda: probe_kw(1), "_probe_keywords() takes 0 positional arguments but 1 was given"),
        (lambda: probe_kw(), "_probe_keywords() missing 3 required keyword arguments: 'x', 'y', and 'z'"),
        (lambda: probe_kw(y=1, count=2),
         "_probe_keywords() missing 2 required keyword arguments: 'x' and 'z'"),
        (lambda: probe_kw(x=1, y=1, z=1, count="7"),
         "argument 'count': 'str' object cannot be interpreted as an integer"),
    ]
    for call, text in cases:
        assert type_error(call) == text
    assert probe_kw(x=None, y=None, z=None) == 0
    assert probe_kw(z=0, count=9, y=0, x=0) == 9


def c_call():
    """PyObject_Call itself: the C call protocol checks neither keys nor their type."""
    import ctypes

    call = ctypes.pythonapi.PyObject_Call
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object] * 3
    return call


def test_keyword_names_that_are_not_text():
    call = c_call()
    assert call(quorix._probe_keywords, (), {"x": 1, "y": 1, "z": 1, "count": 4}) == 4
    with pytest.raises(TypeError) as e:
        call(quorix._probe_keywords, (), {"x": 1, "y": 1, "z": 1, 17: 2})
    assert str(e.value) == "_probe_keywords() got an unexpected keyword argument '17'"


def test_keyword_values_stay_alive_while_the_dict_is_emptied(mol):
    call = c_call()
    kwargs = {"count": Index(5, lambda: kwargs.clear()), "mols": [make_mol([(9, 0), (17, 0)], [(0, 1, 1)])],
              "text": "x" * 100}
    text, count, _, copies = call(quorix._probe_shared, (mol,), kwargs)
    assert kwargs == {}
    assert (text, count) == ("x" * 100, 5)
    assert [c.atomic_nums for c in copies] == [[9, 17]]


def test_positional_and_keyword_forms_bind_alike(mol):
    assert probe(mol, "x") == probe(text="x", mol=mol)
    assert probe(mol) == (None, None, None, None)


# -- conversion ---------------------------------------------------------------

class StrSub(str):
    pass


class Index:
    def __init__(self, value, action=None):
        self.value, self.action = value, action

    def __index__(self):
        if self.action:
            self.action()
        return self.value


@pytest.mark.parametrize("value", [-1, 2**64])
def test_unsigned_out_of_range_raises_overflow_unchanged(mol, value):
    with pytest.raises(OverflowError) as e:
        probe(mol, count=value)
    assert type(e.value) is OverflowError
    assert "argument" not in str(e.value)


def test_rewrite_keeps_the_first_errors_cause(mol):
    class Bad:
        def __index__(self):
            try:
                raise KeyError("inner")
            except KeyError as k:
                raise TypeError("outer") from k

    with pytest.raises(TypeError) as e:
        probe(mol, count=Bad())
    assert str(e.value) == "argument 'count': outer"
    assert isinstance(e.value.__cause__, KeyError)


def test_other_exceptions_of_a_conversion_pass_unchanged(mol):
    class Boom(Exception):
        pass

    def fail():
        raise Boom("from __index__")

    with pytest.raises(Boom, match="^from __index__$"):
        probe(mol, count=Index(1, fail))
    with pytest.raises(UnicodeEncodeError):
        probe(mol, "a\ud800b")


def fake_numpy_type(name, truth=None, has_bool=True):
    ns = {"__module__": "numpy"}
    if has_bool:
        ns["__bool__"] = lambda self: truth
    return type(name, (), ns)


# Index 0 is the text, 1 the count, 2 the flag of what the probe returns.
SLOT = {"text": 0, "count": 1, "flag": 2}


@pytest.mark.parametrize("name, value, expected", [
    ("text", "", ""), ("text", "氯化钠", "氯化钠"), ("text", StrSub("abc"), "abc"), ("text", "a\0b", "a\0b"),
    ("count", True, 1), ("count", 2**64 - 1, 2**64 - 1), ("count", Index(12), 12), ("flag", False, False),
    ("flag", fake_numpy_type("bool_", True)(), True), ("flag", fake_numpy_type("bool", False)(), False),
])
def test_value_accepted(mol, name, value, expected):
    got = probe(mol, **{name: value})[SLOT[name]]
    assert got == expected and type(got) is type(expected)


@pytest.mark.parametrize("name, value, type_name", [
    ("text", b"CCO", "bytes"), ("text", None, "NoneType"), ("count", 1.0, "float"), ("count", "3", "str"),
    ("flag", 1, "int"), ("flag", "True", "str"),
    ("flag", fake_numpy_type("int64", True)(), "int64"),
])
def test_value_refused_with_argument_prefix(mol, name, value, type_name):
    how = {"text": "cannot be cast as 'str'", "count": "cannot be interpreted as an integer",
           "flag": "cannot be cast as 'bool'"}[name]
    assert type_error(lambda: probe(mol, **{name: value})) == f"argument '{name}': '{type_name}' object {how}"


def test_numpy_like_flag_without_truth_conversion(mol):
    value = fake_numpy_type("bool_", has_bool=False)()
    assert type_error(lambda: probe(mol, flag=value)) == (
        "argument 'flag': object of type 'bool_' does not define a '__bool__' conversion")


# -- sequences of molecules ---------------------------------------------------

class LyingLength:
    """A sequence whose length is no help: it raises, or is absurd."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, Exception):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]


def test_sequence_forms(mol):
    other = make_mol([(7, 0)])
    for seq in ([mol, other], (mol, other), LyingLength([mol, other], 2)):
        copies = probe(mol, mols=seq)[3]
        assert [c.atomic_nums for c in copies] == [[6, 8], [7]]
        assert all(type(c) is quorix.Mol and c is not mol for c in copies)
    assert probe(mol, mols=[])[3] == []


@pytest.mark.parametrize("length", [ValueError("no length"), sys.maxsize, 0])
def test_sequence_length_is_only_a_hint(mol, length):
    copies = probe(mol, mols=LyingLength([mol, mol, mol], length))[3]
    assert len(copies) == 3


@pytest.mark.parametrize("value, message", [
    ("CC", "argument 'mols': Can't extract `str` to `Vec`"),
    (5, "argument 'mols': 'int' object cannot be cast as 'Sequence'"),
])
def test_sequence_refused(mol, value, message):
    assert type_error(lambda: probe(mol, mols=value)) == message


def test_sequence_item_of_another_type(mol):
    assert type_error(lambda: probe(mol, mols=[mol, 3])) == "argument 'mols': 'int' object cannot be cast as 'Mol'"


def test_sequence_iteration_errors_pass_unchanged(mol):
    with pytest.raises(KeyError):
        probe(mol, mols=LyingLength({0: mol}, 2))
    assert type_error(lambda: probe("CCO")) == "argument 'mol': 'str' object cannot be cast as 'Mol'"


# -- borrows --------------------------------------------------------------------

def test_exclusive_borrow_blocks_readers_during_conversion(mol):
    seen = []

    def read():
        for attempt in (lambda: mol.num_atoms, lambda: mol.copy(), lambda: repr(mol)):
            with pytest.raises(RuntimeError) as e:
                attempt()
            seen.append(str(e.value))

    assert quorix._probe_exclusive(mol, count=Index(4, read)) == 4
    assert seen == ["Already mutably borrowed"] * 3
    # Released again once the call is over.
    assert mol.num_atoms == 2


def test_exclusive_borrow_refused_while_shared(mol):
    seen = []

    def write():
        with pytest.raises(RuntimeError) as e:
            quorix._probe_exclusive(mol, count=0)
        seen.append(str(e.value))
        # Shared borrows may overlap.
        seen.append(mol.num_bonds)

    assert probe(mol, count=Index(1, write))[1] == 1
    assert seen == ["Already borrowed", 1]
    assert quorix._probe_exclusive(mol, count=2) == 2


def test_borrowed_molecule_argument_in_a_sequence(mol):
    def read_inside():
        # mol is exclusively borrowed here: copying it as a sequence item fails.
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            probe(make_mol([(1, 0)]), mols=[mol])

    quorix._probe_exclusive(mol, count=Index(0, read_inside))


def test_borrow_released_after_an_argument_error(mol):
    with pytest.raises(TypeError):
        quorix._probe_exclusive(mol, count="x")
    assert quorix._probe_exclusive(mol, count=1) == 1
    assert mol.num_atoms == 2


# -- broken invariants -----------------------------------------------------------

def test_internal_error_becomes_panic_exception_and_process_goes_on(mol, capfd):
    with pytest.raises(BaseException) as e:
        probe(mol, panic="不变量被破坏")
    exc = e.value
    assert type(exc).__name__ == "PanicException"
    assert type(exc).__module__ == "pyo3_runtime"
    assert not isinstance(exc, Exception)
    assert str(exc) == "不变量被破坏"
    assert "不变量被破坏" in capfd.readouterr().err
    # The borrow taken before the failure was given back.
    assert quorix._probe_exclusive(mol, count=0) == 0
    with pytest.raises(BaseException) as again:
        probe(mol, panic="")
    assert type(again.value) is type(exc)  # created once
    assert str(again.value)  # a generic message stands in for an empty one


def test_failed_result_value_is_a_panic(mol, capfd):
    with pytest.raises(BaseException) as e:
        probe(mol, api_fail=True)
    assert type(e.value).__name__ == "PanicException"
    assert str(e.value) == "Python API call failed"
    assert "ValueError" in capfd.readouterr().err


def test_broken_record_in_an_engine_value_is_a_panic():
    m = make_mol([(6, 0), (6, 0)], [(0, 1, 9)])  # bond order code outside the table
    with pytest.raises(BaseException) as e:
        m.bond_descriptors()
    assert type(e.value).__name__ == "PanicException"
    assert m.num_bonds == 1


# -- instances --------------------------------------------------------------------

def test_releasing_instances_gives_back_the_type_reference(mol):
    # Every instance holds a reference to its heap type; releasing it must
    # give that back, or the count grows with every object ever made.
    gc.collect()
    before = sys.getrefcount(quorix.Mol)
    for _ in range(2000):
        mol.copy()
    copies = probe(mol, mols=[mol] * 500)[3]
    del copies
    gc.collect()
    assert abs(sys.getrefcount(quorix.Mol) - before) < 5
