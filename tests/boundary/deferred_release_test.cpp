// The call boundary against an embedded interpreter: a source buffer's last
// reference dropped where its owner's interpreter is not attached.
#include <Python.h>
#include <gtest/gtest.h>

#include <thread>

#include "src/boundary/call.h"

namespace quorvane {
namespace {

// A str of its own, counted (a literal's could be immortal).
PyObject* fresh_owner() { return PyUnicode_FromFormat("owner %d", 42); }

TEST(DeferredRelease, WaitsForACallOfTheOwnersInterpreter) {
    PyThreadState* const main_thread = PyThreadState_Get();
    PyObject* const owner = fresh_owner();
    const Py_ssize_t held = Py_REFCNT(owner);
    storage::SourceBuffer* const unattached = borrowing_source("owner 42", owner);
    storage::SourceBuffer* const elsewhere = borrowing_source("owner 42", owner);
    ASSERT_EQ(Py_REFCNT(owner), held + 2);

    // Dropped on a thread no interpreter is attached to.
    PyThreadState* const saved = PyEval_SaveThread();
    std::thread([unattached] { unattached->release(); }).join();
    PyEval_RestoreThread(saved);
    EXPECT_EQ(Py_REFCNT(owner), held + 2);

    // Dropped inside a call of another interpreter, and that interpreter's
    // next call: neither may touch the owner.
    PyThreadState* other = nullptr;
    const PyInterpreterConfig isolated = _PyInterpreterConfig_INIT;
    ASSERT_FALSE(PyStatus_Exception(Py_NewInterpreterFromConfig(&other, &isolated)));
    {
        AttachScope call;
        elsewhere->release();
    }
    {
        AttachScope next_call;
    }
    EXPECT_EQ(Py_REFCNT(owner), held + 2);
    Py_EndInterpreter(other);
    PyThreadState_Swap(main_thread);

    {
        AttachScope own_call;
    }
    EXPECT_EQ(Py_REFCNT(owner), held);
    Py_DECREF(owner);
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    PyPreConfig preconfig;
    PyPreConfig_InitIsolatedConfig(&preconfig);
    // The system allocator, so that a sanitizer sees each object's bounds.
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC;
    if (PyStatus_Exception(Py_PreInitialize(&preconfig))) return 2;
    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    config.site_import = 0;
    const PyStatus status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) return 2;
    const int failed = RUN_ALL_TESTS();
    return Py_FinalizeEx() < 0 ? 2 : failed;
}
