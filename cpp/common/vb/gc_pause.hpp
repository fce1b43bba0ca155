// Pauses the interpreter's cyclic garbage collector while a large structure of
// fresh containers (a list of a hundred thousand row dicts) is built: the
// collections that the allocations would trigger only walk the new objects,
// which hold no cycles.
#pragma once

#include "vb/common.hpp"

namespace vb {

class GcPause {
  public:
    GcPause() {
#if PY_VERSION_HEX >= 0x030A0000
        was_enabled_ = PyGC_Disable() != 0;
#else
        py::module_ gc = py::module_::import("gc");
        was_enabled_ = py::bool_(gc.attr("isenabled")());
        gc.attr("disable")();
#endif
    }

    ~GcPause() {
        if (!was_enabled_) return;
#if PY_VERSION_HEX >= 0x030A0000
        PyGC_Enable();
#else
        PyObject *result = PyObject_CallMethod(gc_module(), "enable", nullptr);
        if (result == nullptr) PyErr_Clear();
        Py_XDECREF(result);
#endif
    }

    GcPause(const GcPause &) = delete;
    GcPause &operator=(const GcPause &) = delete;

  private:
#if PY_VERSION_HEX < 0x030A0000
    static PyObject *gc_module() { return PyImport_AddModule("gc"); }
#endif
    bool was_enabled_ = false;
};

}  // namespace vb
