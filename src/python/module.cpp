// The extension module quorix: import and registration.
#include <cstdint>

#include "python/classes.hpp"
#include "python/frame.hpp"

namespace quorix::python {

namespace {

PyModuleDef quorix_module = {
    PyModuleDef_HEAD_INIT, "quorix", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Appends `name` to __all__ (made on first use), then sets the attribute.
Expected<void> add_attribute(PyObject* module, const char* name, PyObject* value) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return std::unexpected(PyError::fetch());
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0)
            return std::unexpected(PyError::fetch());
    }
    PyRef key = PyRef::steal(PyUnicode_FromString(name));
    if (!key || PyList_Append(all.get(), key.get()) < 0) return std::unexpected(PyError::fetch());
    if (PyObject_SetAttrString(module, name, value) < 0) return std::unexpected(PyError::fetch());
    return {};
}

Expected<void> add_version(PyObject* module) {
    PyRef version = PyRef::steal(PyUnicode_FromString(QUORIX_VERSION));
    if (!version) return std::unexpected(PyError::fetch());
    return add_attribute(module, "__version__", version.get());
}

template <ClassObject& Class>
Expected<void> add_class(PyObject* module) {
    QX_TRY(PyTypeObject * type, Class.get());
    return add_attribute(module, Class.name(), reinterpret_cast<PyObject*>(type));
}

PyRef module_function(PyObject* module, PyMethodDef& def) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return {};
    return PyRef::steal(PyCMethod_New(&def, module, module_name.get(), nullptr));
}

template <PyMethodDef& Def>
Expected<void> add_function(PyObject* module) {
    PyRef fn = module_function(module, Def);
    if (!fn) return std::unexpected(PyError::fetch());
    PyRef name = PyRef::steal(PyObject_GetAttrString(fn.get(), "__name__"));
    if (!name) return std::unexpected(PyError::fetch());
    QX_TRY(std::string text, extract_text(name.get()));
    return add_attribute(module, text.c_str(), fn.get());
}

// The module body, in order. Classes: Mol, Conformer, Query, Reaction,
// Outcome, Molblock, SdfRecord; then the functions parse_smiles,
// parse_smarts, parse_reaction, parse_molblock, read_sdf. Each is added here,
// at its place, once its engine exists.
using Step = Expected<void> (*)(PyObject*);
constexpr Step MODULE_BODY[] = {
    &add_version,
    &add_class<mol_class>,
    &add_class<conformer_class>,
    &add_class<query_class>,
    &add_class<reaction_class>,
    &add_class<outcome_class>,
    &add_class<molblock_class>,
    &add_class<sdf_record_class>,
    &add_function<parse_smiles_def>,
    &add_function<parse_smarts_def>,
    &add_function<parse_reaction_def>,
    &add_function<parse_molblock_def>,
    &add_function<read_sdf_def>,
};

Expected<void> init_module(PyObject* module) {
    for (Step step : MODULE_BODY) QX_CHECK(step(module));
#ifdef QUORIX_TEST_HOOKS
    // Reachable as attributes, but not listed in __all__.
    for (PyMethodDef& def : test_hook_defs) {
        PyRef fn = module_function(module, def);
        if (!fn || PyObject_SetAttrString(module, def.ml_name, fn.get()) < 0) return std::unexpected(PyError::fetch());
    }
#endif
    return {};
}

PyObject* the_module = nullptr;  // one per process, kept once made
std::int64_t first_interpreter = -1;

PyObject* make_module() {
    return run_frame([]() -> Result {
        std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
        if (id < 0) return std::unexpected(PyError::fetch());
        if (first_interpreter < 0) first_interpreter = id;
        if (id != first_interpreter) {
            return std::unexpected(PyError::lazy(
                PyExc_ImportError, "quorix can be imported into one interpreter per process only; "
                                   "sub-interpreters are not supported"));
        }
        if (the_module) return PyRef::borrow(the_module);
        PyRef module = PyRef::steal(PyModule_Create(&quorix_module));
        if (!module) return std::unexpected(PyError::fetch());
        QX_CHECK(init_module(module.get()));
        the_module = PyRef::borrow(module.get()).release();
        return module;
    });
}

}  // namespace

}  // namespace quorix::python

PyMODINIT_FUNC PyInit_quorix(void) { return quorix::python::make_module(); }
