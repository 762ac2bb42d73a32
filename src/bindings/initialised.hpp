// Python objects of the bound classes whose C++ object was never built, or is built
// already.
//
// pybind11 builds the C++ object in __init__ (or __setstate__). An object made by
// Class.__new__(Class) alone holds none, and pybind11 would hand its methods and
// properties raw, unconstructed memory. InitialisedCaster stands in for pybind11's own
// caster of such a class (VANDREL_INITIALISED_CASTER) and refuses an object without a
// C++ object with TypeError before anything sees it: every method, property, pickle and
// argument of that class goes through it.
//
// pybind11 also ignores __init__ or __setstate__ called again on a live object;
// refuse_second_init puts a wrapper in front of both that refuses it instead, so that a
// program never believes it rebuilt a console it did not.
#pragma once

#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <typeinfo>

namespace vandrel {

// True for an instance of the bound class `type` (or of a Python subclass) whose C++
// object has not been built; false for anything else, which the caller's own checks
// then meet.
inline bool lacks_cpp_object(pybind11::handle object, std::type_info const& type) {
    auto* const info = pybind11::detail::get_type_info(type);
    if (!info || !PyObject_TypeCheck(object.ptr(), info->type)) return false;
    auto* const instance = reinterpret_cast<pybind11::detail::instance*>(object.ptr());
    pybind11::detail::value_and_holder const part = instance->get_value_and_holder(info, false);
    return part.inst != nullptr && !part.holder_constructed(); // inst: the class is found
}

inline std::string class_name(pybind11::handle object) {
    return Py_TYPE(object.ptr())->tp_name;
}

template <typename T> class InitialisedCaster : public pybind11::detail::type_caster_base<T> {
public:
    bool load(pybind11::handle source, bool convert) {
        if (lacks_cpp_object(source, typeid(T)))
            throw pybind11::type_error(class_name(source) +
                                       " object was made by __new__ alone and holds nothing: "
                                       "build it by calling the class");
        return pybind11::detail::type_caster_base<T>::load(source, convert);
    }
};

// Wraps the method `name` (__init__ or __setstate__) of the bound class `cls` of C++
// type `type`: on an object whose C++ object is built, RuntimeError; otherwise the
// original method. The wrapper is a Python function: pybind11 would take a bound
// function of that name for a constructor of its own, which skips a built object before
// any code of ours runs. It keeps the original's docstring.
inline void refuse_second_init(pybind11::handle cls, std::type_info const& type, char const* name) {
    namespace py = pybind11;
    py::cpp_function const refuse([cpp_type = &type, method = std::string(name)](py::handle self) {
        auto* const info = py::detail::get_type_info(*cpp_type);
        if (info && PyObject_TypeCheck(self.ptr(), info->type) &&
            !lacks_cpp_object(self, *cpp_type))
            throw std::runtime_error(class_name(self) + "." + method +
                                     ": this object is built already; make a new one instead "
                                     "of building it again");
    });
    py::dict scope;
    py::exec(R"(
def wrap(original, refuse, cls, name):
    def method(self, *args, **kwargs):
        refuse(self)
        return original(self, *args, **kwargs)
    method.__name__ = name
    method.__qualname__ = cls.__qualname__ + "." + name
    method.__module__ = cls.__module__
    method.__doc__ = original.__doc__
    return method
)",
             scope);
    cls.attr(name) = scope["wrap"](cls.attr(name), refuse, cls, name);
}

} // namespace vandrel

// Declares InitialisedCaster as pybind11's caster of the bound class T. It must be seen
// before any use of T's caster, in every file that uses it.
#define VANDREL_INITIALISED_CASTER(T)                                                              \
    namespace pybind11::detail {                                                                   \
    template <> class type_caster<T> : public vandrel::InitialisedCaster<T> {};                    \
    }
