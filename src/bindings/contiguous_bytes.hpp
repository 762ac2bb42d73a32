// The contiguous buffer of any bytes-like object (bytes, bytearray, memoryview, a
// C-contiguous NumPy array), released when it goes out of scope; WritableBytes asks for
// one that may be written (a bytes object or a read-only array raises BufferError).
#pragma once

#include <pybind11/pybind11.h>

namespace vandrel {

class ContiguousBytes {
public:
    explicit ContiguousBytes(pybind11::handle object) {
        if (PyObject_GetBuffer(object.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0)
            throw pybind11::error_already_set();
    }
    ~ContiguousBytes() { PyBuffer_Release(&view); }
    ContiguousBytes(ContiguousBytes const&) = delete;
    ContiguousBytes& operator=(ContiguousBytes const&) = delete;

    unsigned char const* data() const { return static_cast<unsigned char const*>(view.buf); }
    size_t size() const { return size_t(view.len); }

private:
    Py_buffer view{};
};

class WritableBytes {
public:
    explicit WritableBytes(pybind11::handle object) {
        if (PyObject_GetBuffer(object.ptr(), &view, PyBUF_C_CONTIGUOUS | PyBUF_WRITABLE) != 0)
            throw pybind11::error_already_set();
    }
    ~WritableBytes() { PyBuffer_Release(&view); }
    WritableBytes(WritableBytes const&) = delete;
    WritableBytes& operator=(WritableBytes const&) = delete;

    unsigned char* data() const { return static_cast<unsigned char*>(view.buf); }
    size_t size() const { return size_t(view.len); }

private:
    Py_buffer view{};
};

} // namespace vandrel
