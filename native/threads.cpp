// The thread count of the pool under the batch loops and the mesh queries,
// for orvane.arrays.set_num_threads, get_num_threads and threads.

#include <pybind11/pybind11.h>

#include <cstdlib>
#include <string>

#include "gufunc_loop.hpp"
#include "registration.hpp"
#include "thread_pool.hpp"

namespace {

// A count from 1 to kMostThreads, digits only; 0 for anything else.
int parse_count(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    if (first == std::string::npos) return 0;
    const std::string digits = text.substr(first, last - first + 1);
    if (digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    const int n = std::stoi(digits);
    return n >= 1 && n <= pool::kMostThreads ? n : 0;
}

// ORVANE_NUM_THREADS when set and valid; a bad value warns and leaves the
// default, so that importing never fails over it.
void read_environment() {
    // The cores are counted once, at import, not at every parallel call.
    pool::set_threads(pool::usable_cores());
    const char* value = std::getenv("ORVANE_NUM_THREADS");
    if (value == nullptr || *value == '\0') return;
    if (const int n = parse_count(value)) {
        pool::set_threads(n);
        return;
    }
    const std::string message =
        "ORVANE_NUM_THREADS must be a whole number of threads from 1 to " +
        std::to_string(pool::kMostThreads) + ", not '" + value + "'; using " +
        std::to_string(pool::threads()) +
        ", the number of usable cores (orvane.arrays.set_num_threads changes it)";
    if (PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 1) < 0) {
        throw py::error_already_set();
    }
}

}  // namespace

void register_threads(py::module_& native) {
    read_environment();
    py::module_ m = native.def_submodule("threads", "The thread count of the batch operations.");
    m.def("set", &pool::set_threads, py::arg("n"), "Sets the process-wide count, 1 to 1024.");
    m.def("get", &pool::threads, "The count a call from this thread uses.");
    m.def("set_local", &pool::set_local_threads, py::arg("n"), py::arg("only_if_unset"),
          "Sets this thread's count (0: none) unless only_if_unset and it has one; returns the "
          "previous one.");
    m.attr("most") = pool::kMostThreads;
    m.attr("min_bytes_per_thread") = gufunc::kMinBytesPerThread;
}
