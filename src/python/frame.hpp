#pragma once
// The call frame every entry point of the module runs through: argument binding
// and conversion, borrowing of objects, translation of failures into Python
// exceptions, and the class machinery (type objects, instances, release).
//
// Bodies return a `Result` (a new reference, or a PyError) and never touch the
// host's error indicator; an InternalError thrown anywhere below becomes
// pyo3_runtime.PanicException. Adding a class (see mol.cpp):
//   1. classes.hpp: `extern ClassObject foo_class;` and the specialisation
//      `class_of<Payload>()` returning it; a `new_foo_object` if others need it.
//   2. foo.cpp: bodies `Result body(const Payload&)` (shared borrow) or
//      `Result body(Payload&)` (exclusive), and for methods with arguments
//      `Result body(const Payload&, const Arguments&)` with a constexpr
//      ParamSpec; a constexpr `Member` table in the class's member order, using
//      property<&body>(name, doc), method<&body>(name, doc) and
//      method<&body, SPEC>(doc); then
//      `ClassObject foo_class{FOO_SPEC}` with
//      `constexpr ClassSpec FOO_SPEC = class_spec<Payload, &repr>(name, doc, table)`.
//   3. module.cpp: `&add_class<foo_class>` at its place in MODULE_BODY.
// Module functions: `Result body(const Arguments&)`, a global
// `PyMethodDef foo_def = function_def<&body, SPEC>(doc)` and
// `&add_function<foo_def>` in MODULE_BODY.
// Arguments convert in parameter order after self is borrowed:
//   QX_TRY(std::string t, args.extract(0, extract_text));
//   QX_TRY(bool u, args.extract_or(1, extract_flag, true));
//   QX_TRY(auto mol, args.extract(0, borrow_shared<core::MolBuilder>));
//   QX_TRY(auto mols, args.extract(0, extract_copies<core::MolBuilder>));
// Sequence items are borrowed only while they are converted: the iteration and
// later arguments may run Python code that changes them.
// Result values come from the to_py_* / tuple_of / list_from / Dict helpers.
#include <Python.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/error.hpp"

namespace quorix::python {

// ---------------------------------------------------------------------------
// Owning handle of one Python reference.

class PyRef {
public:
    PyRef() noexcept = default;
    // Takes over a new reference (may be null).
    static PyRef steal(PyObject* p) noexcept { return PyRef(p); }
    // Adds a reference of its own.
    static PyRef borrow(PyObject* p) noexcept {
        if (p) Py_IncRef(p);
        return PyRef(p);
    }
    PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    PyRef& operator=(PyRef&& o) noexcept {
        if (this != &o) reset(std::exchange(o.p_, nullptr));
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { reset(); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset(PyObject* p = nullptr) noexcept {
        PyObject* old = std::exchange(p_, p);
        if (old) Py_DecRef(old);
    }

private:
    explicit PyRef(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------------------
// A pending Python exception: either one the host raised (fetched, carried on
// unchanged) or a lazy one (exception type plus owned message), made into an
// exception object only when it is set on the host.

class PyError {
public:
    // Takes the host's pending exception; SystemError when none is set.
    static PyError fetch();
    static PyError lazy(PyObject* type, std::string message);

    // Sets the exception on the host.
    void restore() &&;
    // True when the exception's type is exactly TypeError.
    bool is_type_error() const;
    // The exception's text (str() of the value); normalises a fetched error.
    std::string message();
    // The rewrite of a conversion TypeError into "argument '{}': {}".
    PyError with_argument_name(std::string_view name) &&;

private:
    PyError() = default;
    PyRef type_, value_, traceback_;  // fetched form
    PyObject* lazy_type_ = nullptr;   // lazy form: a static exception type
    std::string message_;
};

PyError lazy_value_error(std::string message);
PyError lazy_type_error(std::string message);
PyError lazy_system_error(std::string message);
PyError lazy_runtime_error(std::string message);

template <class T>
using Expected = std::expected<T, PyError>;
// What every body returns: the result object (a new reference) or the error.
using Result = Expected<PyRef>;

#define QX_CAT2(a, b) a##b
#define QX_CAT(a, b) QX_CAT2(a, b)
// `QX_TRY(auto x, expr);` binds the value of an Expected or returns its error.
#define QX_TRY(decl, expr)                                                            \
    auto QX_CAT(qx_try_, __LINE__) = (expr);                                          \
    if (!QX_CAT(qx_try_, __LINE__))                                                   \
        return std::unexpected(std::move(QX_CAT(qx_try_, __LINE__).error()));         \
    decl = std::move(*QX_CAT(qx_try_, __LINE__))
// `QX_CHECK(expr);` for an Expected<void>.
#define QX_CHECK(expr)                                                                \
    do {                                                                              \
        auto qx_check_ = (expr);                                                      \
        if (!qx_check_) return std::unexpected(std::move(qx_check_.error()));         \
    } while (0)

// ---------------------------------------------------------------------------
// Result values. The host failing to create one of these is a broken
// invariant: its error is printed and the call ends with PanicException.

// Checks a new reference returned by the host.
PyRef created(PyObject* p);
PyRef to_py_int(std::int64_t v);
PyRef to_py_uint(std::uint64_t v);
PyRef to_py_float(double v);
PyRef to_py_bool(bool v);
PyRef py_none();
PyRef to_py_str(std::string_view utf8);
PyRef new_list(std::size_t n);
// Stores `item` (taken over) at position i of a list made by new_list.
void list_set(PyObject* list, std::size_t i, PyRef item);
PyRef new_tuple(std::size_t n);
void tuple_set(PyObject* tuple, std::size_t i, PyRef item);

template <class... Items>
PyRef tuple_of(Items&&... items) {
    PyRef t = new_tuple(sizeof...(Items));
    std::size_t i = 0;
    (tuple_set(t.get(), i++, std::forward<Items>(items)), ...);
    return t;
}

// A list with one item per element of `range`, made by `convert(element)`.
template <class Range, class Convert>
PyRef list_from(const Range& range, Convert convert) {
    PyRef list = new_list(std::size(range));
    std::size_t i = 0;
    for (const auto& item : range) list_set(list.get(), i++, convert(item));
    return list;
}

// A list holding the given objects, ownership moved into it.
PyRef objects_to_list(std::vector<PyRef>&& objects);
PyRef indices_to_list(std::span<const std::uint32_t> indices);
PyRef pair_to_tuple(std::uint32_t first, std::uint32_t second);
PyRef bond_to_tuple(std::uint32_t begin, std::uint32_t end, double order);
PyRef coord_to_tuple(double x, double y, double z);
PyRef data_field_to_tuple(std::string_view name, std::string_view value);

// A dictionary key that a hot method sets on every call: its string is made on
// first use and kept for the process, like the module's other cached objects.
class Key {
public:
    explicit constexpr Key(const char* text) : text_(text) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    const char* text() const { return text_; }
    // The kept string; nullptr with the host's error set when it cannot be made.
    PyObject* get();

private:
    const char* text_;
    PyObject* object_ = nullptr;
};

// A dictionary built key by key, in insertion order.
class Dict {
public:
    Dict();
    // A failure of the host to set the item is returned as the host's error.
    Expected<void> set(const char* key, PyRef value);
    Expected<void> set(Key& key, PyRef value);
    PyRef take() { return std::move(dict_); }
    PyObject* get() const { return dict_.get(); }

private:
    PyRef dict_;
};
Expected<void> set_index_list_item(Dict& dict, Key& key, std::span<const std::uint32_t> indices);
Expected<void> set_pair_list_item(Dict& dict, Key& key,
                                  std::span<const std::pair<std::uint32_t, std::uint32_t>> pairs);
// dict["atoms"] = the list (taken over).
Expected<void> set_atoms_item(Dict& dict, PyRef atoms);

// ---------------------------------------------------------------------------
// Argument binding.

struct KeywordOnly {
    const char* name;
    bool required;
};

// One per function or method that takes arguments. Parameters are numbered
// positional-or-keyword first, then keyword-only.
struct ParamSpec {
    const char* function;
    const char* class_name;  // nullptr for module functions
    std::span<const char* const> positional;
    std::size_t required_positional;
    std::span<const KeywordOnly> keyword_only;

    std::size_t size() const { return positional.size() + keyword_only.size(); }
    const char* name(std::size_t i) const {
        return i < positional.size() ? positional[i] : keyword_only[i - positional.size()].name;
    }
    // "f()" or "Class.f()", as the binding errors show it.
    std::string display_name() const;
};

inline constexpr std::size_t MAX_PARAMS = 8;

class Arguments {
public:
    explicit Arguments(const ParamSpec& spec) : spec_(&spec) {}
    // The object given for parameter i, or nullptr when it was not given.
    PyObject* get(std::size_t i) const { return slots_[i].get(); }
    bool given(std::size_t i) const { return slots_[i].get() != nullptr; }

    // Converts parameter i; a TypeError of the conversion is rewritten to name
    // the parameter, other exceptions pass unchanged.
    template <class Convert>
    auto extract(std::size_t i, Convert convert) const -> decltype(convert(nullptr)) {
        auto r = convert(slots_[i].get());
        if (!r) return std::unexpected(std::move(r.error()).with_argument_name(spec_->name(i)));
        return r;
    }
    // The same for an optional parameter: `fallback` when it was not given.
    template <class Convert, class T>
    auto extract_or(std::size_t i, Convert convert, T fallback) const -> decltype(convert(nullptr)) {
        if (!given(i)) return fallback;
        return extract(i, convert);
    }

private:
    friend Expected<Arguments> bind_arguments(const ParamSpec&, PyObject*, PyObject*);
    const ParamSpec* spec_;
    std::array<PyRef, MAX_PARAMS> slots_;
};

Expected<Arguments> bind_arguments(const ParamSpec& spec, PyObject* args, PyObject* kwargs);

// ---------------------------------------------------------------------------
// Converters of arguments. Each returns the value or the refusal.

// "'{}' object cannot be cast as '{}'" with the object's type name.
PyError cast_error(PyObject* obj, std::string_view target);
std::string type_name(PyObject* type);

Expected<std::string> extract_text(PyObject* obj);
Expected<std::uint64_t> extract_u64(PyObject* obj);
Expected<bool> extract_flag(PyObject* obj);
// The name of collections.abc.Sequence, looked up once per process.
std::string sequence_class_name();

// The host's length of a sequence is only a hint: capped, and ignored when the
// sequence cannot give one.
inline constexpr std::size_t SEQUENCE_RESERVE_CAP = 4096;

// Refuses a str or a non-sequence, then calls reserve(capped length hint) once
// and visit(item) -> Expected<void> for each item in iteration order, stopping
// at the first error.
template <class Reserve, class Visit>
Expected<void> for_each_item(PyObject* obj, Reserve reserve, Visit visit);

// A sequence (not a str) converted item by item, in iteration order.
template <class Convert>
auto extract_sequence(PyObject* obj, Convert convert)
    -> Expected<std::vector<typename decltype(convert(nullptr))::value_type>>;

// ---------------------------------------------------------------------------
// Classes.

// The borrow flag: 0 free, k > 0 shared borrows, all ones one exclusive borrow.
using BorrowFlag = std::atomic<std::uintptr_t>;
inline constexpr std::uintptr_t EXCLUSIVE = ~std::uintptr_t{0};

Expected<void> acquire_shared(BorrowFlag& flag);
Expected<void> acquire_exclusive(BorrowFlag& flag);

template <class P>
struct Instance {
    PyObject_HEAD
    P payload;
    BorrowFlag borrow;
};

struct Member {
    enum class Kind { Getter, Method, MethodArgs };
    Kind kind;
    const char* name;
    const char* doc;
    getter get = nullptr;
    PyCFunction method = nullptr;
};

struct ClassSpec {
    const char* name;  // "Mol"; the type shows as "quorix.Mol"
    const char* doc;
    std::size_t basicsize;
    destructor dealloc;
    reprfunc repr;
    std::span<const Member> members;
};

// The type object of one class: created on first demand, then kept.
class ClassObject {
public:
    constexpr explicit ClassObject(const ClassSpec& spec) : spec_(&spec) {}
    // For the module body: a failed creation is returned (and retried later).
    Expected<PyTypeObject*> get();
    // For making an instance: a failed creation is a broken invariant.
    PyTypeObject* get_or_panic();
    const char* name() const { return spec_->name; }

private:
    const ClassSpec* spec_;
    PyTypeObject* type_ = nullptr;
    // Tables the host points into for the life of the type.
    std::string* qualified_name_ = nullptr;
    PyMethodDef* methods_ = nullptr;
    PyGetSetDef* getters_ = nullptr;
};

// Specialised for each payload type in classes.hpp.
template <class P>
ClassObject& class_of();

// Wraps a payload in a new instance of its class (moved in, borrow flag free).
template <class P>
Result new_object(P&& payload);

enum class Access { Shared, Exclusive };

// A borrow of one instance's payload, given back on destruction.
template <class P, Access A>
class Borrow {
public:
    Borrow(PyObject* obj) : obj_(PyRef::borrow(obj)) {}
    Borrow(Borrow&&) noexcept = default;
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
        if (!obj_) return;
        if constexpr (A == Access::Shared) {
            flag().fetch_sub(1, std::memory_order_release);
        } else {
            flag().store(0, std::memory_order_release);
        }
    }
    const P& operator*() const { return inst()->payload; }
    P& operator*() requires(A == Access::Exclusive) { return inst()->payload; }
    const P* operator->() const { return &inst()->payload; }
    PyObject* object() const { return obj_.get(); }

private:
    Instance<P>* inst() const { return reinterpret_cast<Instance<P>*>(obj_.get()); }
    BorrowFlag& flag() const { return inst()->borrow; }
    PyRef obj_;
};

// Checks the object's class (or a subtype), then takes the borrow.
template <class P>
Expected<Borrow<P, Access::Shared>> borrow_shared(PyObject* obj);
template <class P>
Expected<Borrow<P, Access::Exclusive>> borrow_exclusive(PyObject* obj);


// A sequence of instances, each copied under a shared borrow of its own.
template <class P>
Expected<std::vector<P>> extract_copies(PyObject* obj) {
    return extract_sequence(obj, [](PyObject* item) -> Expected<P> {
        QX_TRY(auto b, borrow_shared<P>(item));
        return P(*b);
    });
}

// The same, assigned over the elements already in `out` from its start (their
// storage is reused) and appended beyond them; each item is borrowed only while
// it is copied. Returns the number of items; elements after them are left over.
template <class P>
Expected<std::size_t> extract_copies_into(PyObject* obj, std::vector<P>& out) {
    std::size_t n = 0;
    QX_CHECK(for_each_item(
        obj, [&](std::size_t hint) { out.reserve(hint); },
        [&](PyObject* item) -> Expected<void> {
            QX_TRY(auto b, borrow_shared<P>(item));
            if (n == out.size()) out.push_back(*b);
            else out[n] = *b;
            ++n;
            return {};
        }));
    return n;
}

// ---------------------------------------------------------------------------
// The frame.

// Turns an internal error into PanicException and sets it on the host.
void raise_panic(std::string_view message);
// The pyo3_runtime.PanicException class (created once).
PyObject* panic_exception_type();
[[noreturn]] void abort_uncaught_panic();
// For a failure where nothing can take an exception (the release of an
// instance): PanicException through the host's unraisable-error hook.
void report_unraisable_panic(std::string_view message, PyObject* obj);

template <class Body>
PyObject* run_frame(Body&& body) noexcept {
    try {
        Result r = body();
        if (r) return r->release();
        std::move(r.error()).restore();
        return nullptr;
    } catch (const InternalError& e) {
        try {
            raise_panic(e.what());
        } catch (...) {
            abort_uncaught_panic();
        }
        return nullptr;
    } catch (const std::exception& e) {
        // Only a broken invariant can throw here (allocation failure aborts).
        try {
            raise_panic(e.what());
        } catch (...) {
            abort_uncaught_panic();
        }
        return nullptr;
    } catch (...) {
        abort_uncaught_panic();
    }
}

// Shape "args": binds the arguments, then runs body(self, arguments).
template <class Body>
PyObject* call_with_args(PyObject* self, PyObject* args, PyObject* kwargs, const ParamSpec& spec,
                         Body&& body) noexcept {
    return run_frame([&]() -> Result {
        QX_TRY(Arguments bound, bind_arguments(spec, args, kwargs));
        return body(self, bound);
    });
}
// Shape "self": methods without arguments and __repr__.
template <class Body>
PyObject* call_self(PyObject* self, Body&& body) noexcept {
    return run_frame([&]() -> Result { return body(self); });
}
// Attribute getters.
template <class Body>
PyObject* call_getter(PyObject* self, Body&& body) noexcept {
    return run_frame([&]() -> Result { return body(self); });
}

// ---------------------------------------------------------------------------
// Member tables. A body's signature decides its borrow: `const P&` shared,
// `P&` exclusive.

namespace detail {

template <class F>
struct body_traits;
template <class P>
struct body_traits<Result (*)(const P&)> {
    using payload = P;
    static constexpr Access access = Access::Shared;
};
template <class P>
struct body_traits<Result (*)(P&)> {
    using payload = P;
    static constexpr Access access = Access::Exclusive;
};
template <class P>
struct body_traits<Result (*)(const P&, const Arguments&)> {
    using payload = P;
    static constexpr Access access = Access::Shared;
};
template <class P>
struct body_traits<Result (*)(P&, const Arguments&)> {
    using payload = P;
    static constexpr Access access = Access::Exclusive;
};

template <class P, Access A>
Expected<Borrow<P, A>> borrow_self(PyObject* self) {
    if constexpr (A == Access::Shared) return borrow_shared<P>(self);
    else return borrow_exclusive<P>(self);
}

template <auto Body>
PyObject* getter_entry(PyObject* self, void*) noexcept {
    using T = body_traits<decltype(Body)>;
    return call_getter(self, [](PyObject* s) -> Result {
        QX_TRY(auto b, (borrow_self<typename T::payload, T::access>(s)));
        return Body(*b);
    });
}

template <auto Body>
PyObject* self_entry(PyObject* self) noexcept {
    using T = body_traits<decltype(Body)>;
    return call_self(self, [](PyObject* s) -> Result {
        QX_TRY(auto b, (borrow_self<typename T::payload, T::access>(s)));
        return Body(*b);
    });
}

template <auto Body>
PyObject* noargs_entry(PyObject* self, PyObject*) noexcept {
    return self_entry<Body>(self);
}

template <auto Body, const ParamSpec& Spec>
PyObject* args_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    using T = body_traits<decltype(Body)>;
    return call_with_args(self, args, kwargs, Spec, [](PyObject* s, const Arguments& a) -> Result {
        QX_TRY(auto b, (borrow_self<typename T::payload, T::access>(s)));
        return Body(*b, a);
    });
}

template <auto Body, const ParamSpec& Spec>
PyObject* function_entry(PyObject* module, PyObject* args, PyObject* kwargs) noexcept {
    return call_with_args(module, args, kwargs, Spec,
                          [](PyObject*, const Arguments& a) -> Result { return Body(a); });
}

template <class P>
void dealloc(PyObject* self) noexcept;

}  // namespace detail

// A read-only property; getter docstrings carry no signature.
template <auto Body>
constexpr Member property(const char* name, const char* doc) {
    return Member{Member::Kind::Getter, name, doc, &detail::getter_entry<Body>, nullptr};
}
// A method without arguments; its docstring begins with its text signature.
template <auto Body>
constexpr Member method(const char* name, const char* doc) {
    return Member{Member::Kind::Method, name, doc, nullptr, &detail::noargs_entry<Body>};
}
// A method with positional and keyword arguments.
template <auto Body, const ParamSpec& Spec>
constexpr Member method(const char* doc) {
    return Member{Member::Kind::MethodArgs, Spec.function, doc, nullptr,
                  reinterpret_cast<PyCFunction>(
                      reinterpret_cast<void (*)()>(&detail::args_entry<Body, Spec>))};
}

// The type description of a class whose payload is P.
template <class P, auto Repr>
constexpr ClassSpec class_spec(const char* name, const char* doc, std::span<const Member> members) {
    return ClassSpec{name, doc, sizeof(Instance<P>), &detail::dealloc<P>, &detail::self_entry<Repr>,
                     members};
}

// A module function with positional and keyword arguments; body(arguments).
template <auto Body, const ParamSpec& Spec>
PyMethodDef function_def(const char* doc) {
    return PyMethodDef{Spec.function,
                       reinterpret_cast<PyCFunction>(
                           reinterpret_cast<void (*)()>(&detail::function_entry<Body, Spec>)),
                       METH_VARARGS | METH_KEYWORDS, doc};
}

// ---------------------------------------------------------------------------
// Template definitions.

template <class Reserve, class Visit>
Expected<void> for_each_item(PyObject* obj, Reserve reserve, Visit visit) {
    if (PyUnicode_Check(obj)) return std::unexpected(lazy_type_error("Can't extract `str` to `Vec`"));
    if (!PySequence_Check(obj)) return std::unexpected(cast_error(obj, sequence_class_name()));
    Py_ssize_t hint = PySequence_Size(obj);
    if (hint < 0) {
        PyErr_Clear();
    } else {
        reserve(std::min<std::size_t>(static_cast<std::size_t>(hint), SEQUENCE_RESERVE_CAP));
    }
    PyRef iter = PyRef::steal(PyObject_GetIter(obj));
    if (!iter) return std::unexpected(PyError::fetch());
    while (PyRef item = PyRef::steal(PyIter_Next(iter.get()))) QX_CHECK(visit(item.get()));
    if (PyErr_Occurred()) return std::unexpected(PyError::fetch());
    return {};
}

template <class Convert>
auto extract_sequence(PyObject* obj, Convert convert)
    -> Expected<std::vector<typename decltype(convert(nullptr))::value_type>> {
    using T = typename decltype(convert(nullptr))::value_type;
    std::vector<T> out;
    QX_CHECK(for_each_item(
        obj, [&](std::size_t hint) { out.reserve(hint); },
        [&](PyObject* item) -> Expected<void> {
            auto v = convert(item);
            if (!v) return std::unexpected(std::move(v.error()));
            out.push_back(std::move(*v));
            return {};
        }));
    return out;
}

template <class P>
Result new_object(P&& payload) {
    PyTypeObject* type = class_of<P>().get_or_panic();
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = alloc ? alloc(type, 0) : nullptr;
    if (!obj) return std::unexpected(PyError::fetch());
    auto* inst = reinterpret_cast<Instance<P>*>(obj);
    new (&inst->payload) P(std::move(payload));
    new (&inst->borrow) BorrowFlag(0);
    return PyRef::steal(obj);
}

namespace detail {
Expected<void> check_instance(PyObject* obj, ClassObject& cls);

template <class P>
void dealloc(PyObject* self) noexcept {
    try {
        auto* inst = reinterpret_cast<Instance<P>*>(self);
        inst->payload.~P();
        inst->borrow.~BorrowFlag();
        PyTypeObject* type = Py_TYPE(self);
        PyObject* base = reinterpret_cast<PyObject*>(&PyBaseObject_Type);
        Py_IncRef(base);
        Py_IncRef(reinterpret_cast<PyObject*>(type));
        auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        if (!free_slot) internal_error("类型对象没有 tp_free 槽");
        free_slot(self);
        Py_DecRef(reinterpret_cast<PyObject*>(type));
        // The instance held a reference to its heap type; give it back.
        Py_DecRef(reinterpret_cast<PyObject*>(type));
        Py_DecRef(base);
    } catch (const std::exception& e) {
        report_unraisable_panic(e.what(), self);
    }
}
}  // namespace detail

template <class P>
Expected<Borrow<P, Access::Shared>> borrow_shared(PyObject* obj) {
    QX_CHECK(detail::check_instance(obj, class_of<P>()));
    QX_CHECK(acquire_shared(reinterpret_cast<Instance<P>*>(obj)->borrow));
    return Borrow<P, Access::Shared>(obj);
}

template <class P>
Expected<Borrow<P, Access::Exclusive>> borrow_exclusive(PyObject* obj) {
    QX_CHECK(detail::check_instance(obj, class_of<P>()));
    QX_CHECK(acquire_exclusive(reinterpret_cast<Instance<P>*>(obj)->borrow));
    return Borrow<P, Access::Exclusive>(obj);
}

}  // namespace quorix::python
