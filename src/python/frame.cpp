#include "python/frame.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quorix::python {

// ---------------------------------------------------------------------------
// Errors.

namespace {

// str(obj) as UTF-8; nullopt-like empty result with `ok` false on failure.
bool object_text(PyObject* obj, std::string& out) {
    PyRef s = PyRef::steal(PyObject_Str(obj));
    if (!s) return false;
    PyRef bytes = PyRef::steal(PyUnicode_AsUTF8String(s.get()));
    if (!bytes) return false;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

PyRef str_from_utf8(std::string_view text) {
    PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    return PyRef::steal(s);
}

}  // namespace

PyError PyError::fetch() {
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    if (!t) {
        Py_XDECREF(v);
        Py_XDECREF(tb);
        return lazy_system_error("attempted to fetch exception but none was set");
    }
    PyError e;
    e.type_ = PyRef::steal(t);
    e.value_ = PyRef::steal(v);
    e.traceback_ = PyRef::steal(tb);
    return e;
}

PyError PyError::lazy(PyObject* type, std::string message) {
    PyError e;
    e.lazy_type_ = type;
    e.message_ = std::move(message);
    return e;
}

void PyError::restore() && {
    if (type_) {
        PyErr_Restore(type_.release(), value_.release(), traceback_.release());
        return;
    }
    PyRef text = str_from_utf8(message_);
    if (!text) return;  // the host's own error (memory) is set instead
    PyErr_SetObject(lazy_type_, text.get());
}

bool PyError::is_type_error() const {
    if (type_) return type_.get() == PyExc_TypeError;
    return lazy_type_ == PyExc_TypeError;
}

std::string PyError::message() {
    if (!type_) return message_;
    PyObject *t = type_.release(), *v = value_.release(), *tb = traceback_.release();
    PyErr_NormalizeException(&t, &v, &tb);
    type_ = PyRef::steal(t);
    value_ = PyRef::steal(v);
    traceback_ = PyRef::steal(tb);
    std::string out;
    if (!value_ || !object_text(value_.get(), out)) {
        PyErr_Clear();
        out = "<exception str() failed>";
    }
    return out;
}

PyError PyError::with_argument_name(std::string_view name) && {
    if (!is_type_error()) return std::move(*this);
    std::string text = "argument '";
    text += name;
    text += "': ";
    text += message();
    if (!type_) return lazy_type_error(std::move(text));
    // A host TypeError: the new error keeps the first error's cause.
    PyRef cause = PyRef::steal(value_ ? PyException_GetCause(value_.get()) : nullptr);
    PyRef msg = str_from_utf8(text);
    PyRef fresh = msg ? PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, msg.get(), nullptr))
                      : PyRef();
    if (!fresh) {
        PyErr_Clear();
        return lazy_type_error(std::move(text));
    }
    if (cause) PyException_SetCause(fresh.get(), cause.release());
    PyError e;
    e.type_ = PyRef::borrow(PyExc_TypeError);
    e.value_ = std::move(fresh);
    return e;
}

PyError lazy_value_error(std::string message) { return PyError::lazy(PyExc_ValueError, std::move(message)); }
PyError lazy_type_error(std::string message) { return PyError::lazy(PyExc_TypeError, std::move(message)); }
PyError lazy_system_error(std::string message) { return PyError::lazy(PyExc_SystemError, std::move(message)); }
PyError lazy_runtime_error(std::string message) {
    return PyError::lazy(PyExc_RuntimeError, std::move(message));
}

// ---------------------------------------------------------------------------
// Result values.

PyRef created(PyObject* p) {
    if (!p) {
        if (PyErr_Occurred()) PyErr_PrintEx(0);
        internal_error("Python API call failed");
    }
    return PyRef::steal(p);
}

PyRef to_py_int(std::int64_t v) { return created(PyLong_FromLongLong(v)); }
PyRef to_py_uint(std::uint64_t v) { return created(PyLong_FromUnsignedLongLong(v)); }
PyRef to_py_float(double v) { return created(PyFloat_FromDouble(v)); }
PyRef to_py_bool(bool v) { return created(PyBool_FromLong(v ? 1 : 0)); }
PyRef py_none() { return PyRef::borrow(Py_None); }
PyRef to_py_str(std::string_view utf8) {
    return created(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}
PyRef new_list(std::size_t n) { return created(PyList_New(static_cast<Py_ssize_t>(n))); }
void list_set(PyObject* list, std::size_t i, PyRef item) {
    if (PyList_SetItem(list, static_cast<Py_ssize_t>(i), item.release()) < 0) created(nullptr);
}
PyRef new_tuple(std::size_t n) { return created(PyTuple_New(static_cast<Py_ssize_t>(n))); }
void tuple_set(PyObject* tuple, std::size_t i, PyRef item) {
    if (PyTuple_SetItem(tuple, static_cast<Py_ssize_t>(i), item.release()) < 0) created(nullptr);
}

PyRef objects_to_list(std::vector<PyRef>&& objects) {
    PyRef list = new_list(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) list_set(list.get(), i, std::move(objects[i]));
    objects.clear();
    return list;
}
PyRef indices_to_list(std::span<const std::uint32_t> indices) {
    return list_from(indices, [](std::uint32_t i) { return to_py_uint(i); });
}
PyRef pair_to_tuple(std::uint32_t first, std::uint32_t second) {
    return tuple_of(to_py_uint(first), to_py_uint(second));
}
PyRef bond_to_tuple(std::uint32_t begin, std::uint32_t end, double order) {
    return tuple_of(to_py_uint(begin), to_py_uint(end), to_py_float(order));
}
PyRef coord_to_tuple(double x, double y, double z) {
    return tuple_of(to_py_float(x), to_py_float(y), to_py_float(z));
}
PyRef data_field_to_tuple(std::string_view name, std::string_view value) {
    return tuple_of(to_py_str(name), to_py_str(value));
}

Dict::Dict() : dict_(created(PyDict_New())) {}

Expected<void> Dict::set(const char* key, PyRef value) {
    if (PyDict_SetItemString(dict_.get(), key, value.get()) < 0) return std::unexpected(PyError::fetch());
    return {};
}

PyObject* Key::get() {
    if (!object_) object_ = PyUnicode_InternFromString(text_);  // kept for the process
    return object_;
}

Expected<void> Dict::set(Key& key, PyRef value) {
    PyObject* k = key.get();
    if (!k || PyDict_SetItem(dict_.get(), k, value.get()) < 0) return std::unexpected(PyError::fetch());
    return {};
}

Expected<void> set_index_list_item(Dict& dict, Key& key, std::span<const std::uint32_t> indices) {
    return dict.set(key, indices_to_list(indices));
}

Expected<void> set_pair_list_item(Dict& dict, Key& key,
                                  std::span<const std::pair<std::uint32_t, std::uint32_t>> pairs) {
    return dict.set(key, list_from(pairs, [](const auto& p) { return pair_to_tuple(p.first, p.second); }));
}

Expected<void> set_atoms_item(Dict& dict, PyRef atoms) { return dict.set("atoms", std::move(atoms)); }

// ---------------------------------------------------------------------------
// Binding.

std::string ParamSpec::display_name() const {
    std::string s;
    if (class_name) {
        s += class_name;
        s += '.';
    }
    s += function;
    s += "()";
    return s;
}

namespace {

std::string quoted_list(const std::vector<const char*>& names) {
    std::string s;
    const std::size_t n = names.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) {
            if (n > 2) s += ',';
            s += (i == n - 1) ? " and " : " ";
        }
        s += '\'';
        s += names[i];
        s += '\'';
    }
    return s;
}

PyError missing_arguments(const ParamSpec& spec, const char* kind, const std::vector<const char*>& names) {
    std::string s = spec.display_name();
    s += " missing ";
    s += std::to_string(names.size());
    s += " required ";
    s += kind;
    s += names.size() == 1 ? " argument: " : " arguments: ";
    s += quoted_list(names);
    return lazy_type_error(std::move(s));
}

bool name_is(PyObject* key, const char* name) {
    int r = PyUnicode_CompareWithASCIIString(key, name);
    return r == 0;
}

}  // namespace

Expected<Arguments> bind_arguments(const ParamSpec& spec, PyObject* args, PyObject* kwargs) {
    if (spec.size() > MAX_PARAMS) internal_error("参数表超出上限");
    Arguments out(spec);
    const std::size_t num_positional = spec.positional.size();
    const Py_ssize_t given = args ? PyTuple_Size(args) : 0;
    if (given < 0) return std::unexpected(PyError::fetch());
    const auto nargs = static_cast<std::size_t>(given);
    for (std::size_t i = 0; i < nargs && i < num_positional; ++i)
        out.slots_[i] = PyRef::borrow(PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)));
    if (nargs > num_positional) {
        std::string s = spec.display_name();
        if (spec.required_positional != num_positional) {
            s += " takes from " + std::to_string(spec.required_positional) + " to " +
                 std::to_string(num_positional);
        } else {
            s += " takes " + std::to_string(num_positional);
        }
        s += " positional arguments but " + std::to_string(nargs) + (nargs == 1 ? " was" : " were") + " given";
        return std::unexpected(lazy_type_error(std::move(s)));
    }
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            std::size_t slot = MAX_PARAMS;
            if (PyUnicode_Check(key)) {
                for (std::size_t k = 0; k < spec.keyword_only.size() && slot == MAX_PARAMS; ++k)
                    if (name_is(key, spec.keyword_only[k].name)) slot = num_positional + k;
                for (std::size_t k = 0; k < num_positional && slot == MAX_PARAMS; ++k)
                    if (name_is(key, spec.positional[k])) slot = k;
            }
            if (slot == MAX_PARAMS) {
                std::string name;
                if (!object_text(key, name)) {
                    PyErr_Clear();
                    name = "<unprintable>";
                }
                return std::unexpected(lazy_type_error(spec.display_name() + " got an unexpected keyword argument '" +
                                                       name + "'"));
            }
            if (out.slots_[slot]) {
                return std::unexpected(lazy_type_error(spec.display_name() +
                                                       " got multiple values for argument '" +
                                                       spec.name(slot) + "'"));
            }
            out.slots_[slot] = PyRef::borrow(value);
        }
    }
    if (nargs < spec.required_positional) {
        std::vector<const char*> missing;
        for (std::size_t i = 0; i < spec.required_positional; ++i)
            if (!out.slots_[i]) missing.push_back(spec.positional[i]);
        if (!missing.empty()) return std::unexpected(missing_arguments(spec, "positional", missing));
    }
    std::vector<const char*> missing;
    for (std::size_t k = 0; k < spec.keyword_only.size(); ++k)
        if (spec.keyword_only[k].required && !out.slots_[num_positional + k])
            missing.push_back(spec.keyword_only[k].name);
    if (!missing.empty()) return std::unexpected(missing_arguments(spec, "keyword", missing));
    return out;
}

// ---------------------------------------------------------------------------
// Converters.

std::string type_name(PyObject* type) {
    PyRef name = PyRef::steal(PyObject_GetAttrString(type, "__qualname__"));
    std::string out;
    if (!name || !object_text(name.get(), out)) {
        PyErr_Clear();
        out = "<unknown>";
    }
    return out;
}

PyError cast_error(PyObject* obj, std::string_view target) {
    std::string s = "'";
    s += type_name(reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    s += "' object cannot be cast as '";
    s += target;
    s += "'";
    return lazy_type_error(std::move(s));
}

Expected<std::string> extract_text(PyObject* obj) {
    if (!PyUnicode_Check(obj)) return std::unexpected(cast_error(obj, "str"));
    PyRef bytes = PyRef::steal(PyUnicode_AsUTF8String(obj));
    if (!bytes) return std::unexpected(PyError::fetch());
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return std::unexpected(PyError::fetch());
    return std::string(data, static_cast<std::size_t>(size));
}

Expected<std::uint64_t> extract_u64(PyObject* obj) {
    PyRef index = PyRef::steal(PyNumber_Index(obj));
    if (!index) return std::unexpected(PyError::fetch());
    unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::unexpected(PyError::fetch());
    return static_cast<std::uint64_t>(v);
}

namespace {

bool attr_text_is(PyObject* obj, const char* attr, std::initializer_list<std::string_view> values) {
    PyRef a = PyRef::steal(PyObject_GetAttrString(obj, attr));
    std::string text;
    if (!a || !PyUnicode_Check(a.get()) || !object_text(a.get(), text)) {
        PyErr_Clear();
        return false;
    }
    for (std::string_view v : values)
        if (text == v) return true;
    return false;
}

}  // namespace

Expected<bool> extract_flag(PyObject* obj) {
    if (PyBool_Check(obj)) return obj == Py_True;
    auto* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
    // numpy's booleans convert through their own truth value.
    if (attr_text_is(type, "__module__", {"numpy"}) && attr_text_is(type, "__name__", {"bool_", "bool"})) {
        PyRef method = PyRef::steal(PyObject_GetAttrString(type, "__bool__"));
        if (!method) {
            PyErr_Clear();
            return std::unexpected(lazy_type_error("object of type '" + type_name(type) +
                                                   "' does not define a '__bool__' conversion"));
        }
        PyRef r = PyRef::steal(PyObject_CallFunctionObjArgs(method.get(), obj, nullptr));
        if (!r) return std::unexpected(PyError::fetch());
        if (!PyBool_Check(r.get())) return std::unexpected(cast_error(r.get(), "bool"));
        return r.get() == Py_True;
    }
    return std::unexpected(cast_error(obj, "bool"));
}

std::string sequence_class_name() {
    static PyObject* sequence = nullptr;  // kept for the process
    if (!sequence) {
        PyRef abc = PyRef::steal(PyImport_ImportModule("collections.abc"));
        PyRef cls = abc ? PyRef::steal(PyObject_GetAttrString(abc.get(), "Sequence")) : PyRef();
        if (!cls || !PyType_Check(cls.get())) {
            PyErr_Clear();
            internal_error("取不到 collections.abc.Sequence");
        }
        sequence = cls.release();
    }
    PyRef name = PyRef::steal(PyObject_GetAttrString(sequence, "__name__"));
    std::string out;
    if (!name || !object_text(name.get(), out)) {
        PyErr_Clear();
        out = "Sequence";
    }
    return out;
}

// ---------------------------------------------------------------------------
// Borrowing.

Expected<void> acquire_shared(BorrowFlag& flag) {
    std::uintptr_t v = flag.load(std::memory_order_relaxed);
    do {
        if (v == EXCLUSIVE) return std::unexpected(lazy_runtime_error("Already mutably borrowed"));
        if (v == EXCLUSIVE - 1) internal_error("共享借用计数溢出");
    } while (!flag.compare_exchange_weak(v, v + 1, std::memory_order_acquire, std::memory_order_relaxed));
    return {};
}

Expected<void> acquire_exclusive(BorrowFlag& flag) {
    std::uintptr_t expected = 0;
    if (!flag.compare_exchange_strong(expected, EXCLUSIVE, std::memory_order_acquire, std::memory_order_relaxed))
        return std::unexpected(lazy_runtime_error("Already borrowed"));
    return {};
}

namespace detail {

Expected<void> check_instance(PyObject* obj, ClassObject& cls) {
    PyTypeObject* type = cls.get_or_panic();
    if (!PyObject_TypeCheck(obj, type)) return std::unexpected(cast_error(obj, cls.name()));
    return {};
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Panics.

PyObject* panic_exception_type() {
    static PyObject* type = nullptr;  // created once, kept for the process
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "pyo3_runtime.PanicException",
            "The exception raised when quorix meets a broken internal invariant.\n\n"
            "Like SystemExit, it derives from BaseException, so that ordinary `except Exception`\n"
            "handlers do not catch it and it normally propagates to the top and ends the\n"
            "interpreter.",
            PyExc_BaseException, nullptr);
        if (!type) {
            PyErr_PrintEx(0);
            internal_error("无法创建 PanicException");
        }
    }
    return type;
}

void raise_panic(std::string_view message) {
    PyObject* type = panic_exception_type();
    PyRef text = str_from_utf8(message.empty() ? std::string_view("内部错误(没有附带说明)") : message);
    if (!text) return;
    PyErr_SetObject(type, text.get());
}

void abort_uncaught_panic() {
    static const char text[] = "uncaught panic at ffi boundary\n";
    std::fwrite(text, 1, sizeof text - 1, stderr);
    std::fflush(stderr);
    std::abort();
}

void report_unraisable_panic(std::string_view message, PyObject*) {
    try {
        raise_panic(message);
        PyErr_WriteUnraisable(nullptr);
    } catch (...) {
        abort_uncaught_panic();
    }
}

// ---------------------------------------------------------------------------
// Type objects.

namespace {

constexpr unsigned long IMMUTABLE_TYPE = 1UL << 8;  // honoured from 3.10, unused bit before

PyObject* no_constructor(PyTypeObject* subtype, PyObject*, PyObject*) noexcept {
    return run_frame([&]() -> Result {
        auto* type = reinterpret_cast<PyObject*>(subtype);
        PyRef module = PyRef::steal(PyObject_GetAttrString(type, "__module__"));
        std::string module_name;
        if (!module || !object_text(module.get(), module_name)) {
            PyErr_Clear();
            module_name = "quorix";
        }
        return std::unexpected(
            lazy_type_error("cannot create '" + module_name + "." + type_name(type) + "' instances"));
    });
}

}  // namespace

Expected<PyTypeObject*> ClassObject::get() {
    if (type_) return type_;
    const ClassSpec& spec = *spec_;
    if (!qualified_name_) {
        std::size_t num_methods = 0, num_getters = 0;
        for (const Member& m : spec.members) (m.kind == Member::Kind::Getter ? num_getters : num_methods) += 1;
        methods_ = new PyMethodDef[num_methods + 1]{};
        getters_ = new PyGetSetDef[num_getters + 1]{};
        std::size_t im = 0, ig = 0;
        for (const Member& m : spec.members) {
            switch (m.kind) {
                case Member::Kind::Getter:
                    getters_[ig++] = PyGetSetDef{m.name, m.get, nullptr, m.doc, nullptr};
                    break;
                case Member::Kind::Method:
                    methods_[im++] = PyMethodDef{m.name, m.method, METH_NOARGS, m.doc};
                    break;
                case Member::Kind::MethodArgs:
                    methods_[im++] = PyMethodDef{m.name, m.method, METH_VARARGS | METH_KEYWORDS, m.doc};
                    break;
            }
        }
        qualified_name_ = new std::string(std::string("quorix.") + spec.name);
    }
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(spec.doc)},
        {Py_tp_new, reinterpret_cast<void*>(&no_constructor)},
        {Py_tp_dealloc, reinterpret_cast<void*>(spec.dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(spec.repr)},
        {Py_tp_methods, methods_},
        {Py_tp_getset, getters_},
        {0, nullptr},
    };
    PyType_Spec type_spec{qualified_name_->c_str(), static_cast<int>(spec.basicsize), 0,
                          Py_TPFLAGS_DEFAULT | IMMUTABLE_TYPE, slots};
    PyObject* type = PyType_FromSpec(&type_spec);
    if (!type) return std::unexpected(PyError::fetch());
    if (type_) {  // made meanwhile by a nested first use; keep the first
        Py_DecRef(type);
        return type_;
    }
    type_ = reinterpret_cast<PyTypeObject*>(type);
    return type_;
}

PyTypeObject* ClassObject::get_or_panic() {
    auto t = get();
    if (t) return *t;
    std::move(t.error()).restore();
    PyErr_WriteUnraisable(nullptr);
    internal_error(std::string("failed to create type object for `") + spec_->name + "`");
}

}  // namespace quorix::python
