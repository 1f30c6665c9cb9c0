// The extension module quorix.
#include <Python.h>

namespace {

PyModuleDef quorix_module = {
    PyModuleDef_HEAD_INIT, "quorix", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

int add_attribute(PyObject* module, const char* name, PyObject* value) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        PyErr_Clear();
        all = PyList_New(0);
        if (!all || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return -1;
        }
    }
    PyObject* key = PyUnicode_FromString(name);
    int rc = key ? PyList_Append(all, key) : -1;
    Py_XDECREF(key);
    Py_DECREF(all);
    if (rc < 0) return -1;
    return PyObject_SetAttrString(module, name, value);
}

}  // namespace

PyMODINIT_FUNC PyInit_quorix(void) {
    PyObject* module = PyModule_Create(&quorix_module);
    if (!module) return nullptr;
    PyObject* version = PyUnicode_FromString("0.0.7");
    if (!version || add_attribute(module, "__version__", version) < 0) {
        Py_XDECREF(version);
        Py_DECREF(module);
        return nullptr;
    }
    Py_DECREF(version);
    return module;
}
