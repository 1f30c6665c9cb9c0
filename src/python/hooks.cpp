// Test-only entry points, compiled only into the module the test suite builds:
// they reach the frame's converters, borrows and failure paths before every
// class that uses them exists, and build molecules no reader can produce.
#ifdef QUORIX_TEST_HOOKS

#include <optional>
#include <string>

#include "core/error.hpp"
#include "python/classes.hpp"

namespace quorix::python {

namespace {

using core::MolBuilder;

Expected<std::int64_t> extract_i64(PyObject* obj) {
    PyRef index = PyRef::steal(PyNumber_Index(obj));
    if (!index) return std::unexpected(PyError::fetch());
    long long v = PyLong_AsLongLong(index.get());
    if (v == -1 && PyErr_Occurred()) return std::unexpected(PyError::fetch());
    return v;
}

Expected<std::vector<std::int64_t>> extract_ints(PyObject* obj) { return extract_sequence(obj, extract_i64); }

// _make_mol(atoms, bonds): atoms as (atomic_num, formal_charge[, flags]),
// bonds as (begin, end, order[, flags, stereo, stereo_atom, stereo_atom]).
// Codes are stored unchecked, so that broken records can be made on purpose.
constexpr const char* MAKE_MOL_PARAMS[] = {"atoms", "bonds"};
constexpr ParamSpec MAKE_MOL_SPEC{"_make_mol", nullptr, MAKE_MOL_PARAMS, 2, {}};

Result make_mol(const Arguments& args) {
    QX_TRY(auto atoms, args.extract(0, [](PyObject* o) { return extract_sequence(o, extract_ints); }));
    QX_TRY(auto bonds, args.extract(1, [](PyObject* o) { return extract_sequence(o, extract_ints); }));
    MolBuilder mol;
    for (const auto& a : atoms) {
        if (a.size() < 2) return std::unexpected(lazy_value_error("atom needs (atomic_num, formal_charge)"));
        core::Atom atom;
        atom.atomic_num = static_cast<std::uint8_t>(a[0]);
        atom.formal_charge = static_cast<std::int8_t>(a[1]);
        if (a.size() > 2) atom.flags = static_cast<std::uint32_t>(a[2]);
        mol.add_atom(atom);
    }
    for (const auto& b : bonds) {
        if (b.size() < 3) return std::unexpected(lazy_value_error("bond needs (begin, end, order)"));
        core::Bond bond;
        bond.begin = static_cast<std::uint32_t>(b[0]);
        bond.end = static_cast<std::uint32_t>(b[1]);
        bond.order = static_cast<core::BondOrder>(b[2]);
        if (b.size() > 3) bond.flags = static_cast<std::uint32_t>(b[3]);
        if (b.size() > 4) bond.stereo = static_cast<core::BondStereo>(b[4]);
        if (b.size() > 6) bond.stereo_atoms = {static_cast<std::uint32_t>(b[5]), static_cast<std::uint32_t>(b[6])};
        if (!mol.add_bond(bond)) return std::unexpected(lazy_value_error("bad bond"));
    }
    return new_mol_object(std::move(mol));
}

// _probe_shared(mol, text=None, *, count=None, flag=None, mols=None,
// panic=None, api_fail=False): borrows mol shared, converts the rest in order
// and returns (text, count, flag, copies of mols); `panic` raises an internal
// error with that text while the borrow is held, `api_fail` makes the host
// fail to build a result value.
constexpr const char* PROBE_POSITIONAL[] = {"mol", "text"};
constexpr KeywordOnly PROBE_KEYWORDS[] = {
    {"count", false}, {"flag", false}, {"mols", false}, {"panic", false}, {"api_fail", false},
};
constexpr ParamSpec PROBE_SHARED_SPEC{"_probe_shared", nullptr, PROBE_POSITIONAL, 1, PROBE_KEYWORDS};

Result probe_shared(const Arguments& args) {
    QX_TRY(auto mol, args.extract(0, borrow_shared<MolBuilder>));
    PyRef text = py_none(), count = py_none(), flag = py_none(), mols = py_none();
    if (args.given(1)) {
        QX_TRY(std::string t, args.extract(1, extract_text));
        text = to_py_str(t);
    }
    if (args.given(2)) {
        QX_TRY(std::uint64_t c, args.extract(2, extract_u64));
        count = to_py_uint(c);
    }
    if (args.given(3)) {
        QX_TRY(bool f, args.extract(3, extract_flag));
        flag = to_py_bool(f);
    }
    if (args.given(4)) {
        QX_TRY(auto copies, args.extract(4, extract_copies<MolBuilder>));
        QX_TRY(mols, mols_to_list(std::move(copies)));
    }
    if (args.given(5)) {
        QX_TRY(std::string message, args.extract(5, extract_text));
        internal_error(message);
    }
    QX_TRY(bool api_fail, args.extract_or(6, extract_flag, false));
    if (api_fail) created(PyLong_FromString("not a number", nullptr, 10));
    return tuple_of(std::move(text), std::move(count), std::move(flag), std::move(mols));
}

// _probe_exclusive(mol, *, count): borrows mol exclusively, then converts
// count; shows its errors under a class-qualified name.
constexpr const char* PROBE_EXCLUSIVE_POSITIONAL[] = {"mol"};
constexpr KeywordOnly PROBE_EXCLUSIVE_KEYWORDS[] = {{"count", true}};
constexpr ParamSpec PROBE_EXCLUSIVE_SPEC{"_probe_exclusive", "Mol", PROBE_EXCLUSIVE_POSITIONAL, 1,
                                         PROBE_EXCLUSIVE_KEYWORDS};

Result probe_exclusive(const Arguments& args) {
    QX_TRY(auto mol, args.extract(0, borrow_exclusive<MolBuilder>));
    QX_TRY(std::uint64_t c, args.extract(1, extract_u64));
    (void)mol;  // held until the call returns
    return to_py_uint(c);
}

// _probe_keywords(*, count=None, x, y, z): no positional parameters and three
// required keyword-only ones; returns count.
constexpr KeywordOnly PROBE_KEYWORDS_ONLY[] = {{"count", false}, {"x", true}, {"y", true}, {"z", true}};
constexpr ParamSpec PROBE_KEYWORDS_SPEC{"_probe_keywords", nullptr, {}, 0, PROBE_KEYWORDS_ONLY};

Result probe_keywords(const Arguments& args) {
    QX_TRY(std::uint64_t c, args.extract_or(0, extract_u64, std::uint64_t{0}));
    return to_py_uint(c);
}

}  // namespace

std::vector<PyMethodDef> test_hook_defs = {
    function_def<&probe_keywords, PROBE_KEYWORDS_SPEC>("_probe_keywords(*, count=None, x, y, z)\n--\n\n"),
    function_def<&make_mol, MAKE_MOL_SPEC>("_make_mol(atoms, bonds)\n--\n\n"),
    function_def<&probe_shared, PROBE_SHARED_SPEC>(
        "_probe_shared(mol, text=None, *, count=None, flag=None, mols=None, panic=None, api_fail=False)\n--\n\n"),
    function_def<&probe_exclusive, PROBE_EXCLUSIVE_SPEC>("_probe_exclusive(mol, *, count)\n--\n\n"),
};

}  // namespace quorix::python

#endif
