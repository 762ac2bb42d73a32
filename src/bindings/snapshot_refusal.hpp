// Why a console refused a snapshot, as the ValueError both Python modules raise: the
// console module's setSnapshot and pickles, and the batch stepper's restore.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "console/accuracy.hpp"
#include "console/nes_unit.hpp"

namespace vandrel {

// Returns when the verdict is `restored`; raises ValueError naming `what` otherwise.
inline void check_restored(NESUnit::SnapshotVerdict verdict, NES::Accuracy accuracy,
                           char const* what) {
    namespace py = pybind11;
    switch (verdict) {
    case NESUnit::SnapshotVerdict::restored: return;
    case NESUnit::SnapshotVerdict::not_a_snapshot:
        throw py::value_error(std::string(what) + ": the data is not a console snapshot");
    case NESUnit::SnapshotVerdict::other_version:
        throw py::value_error(std::string(what) +
                              ": the snapshot was made by another version of vandrel");
    case NESUnit::SnapshotVerdict::other_accuracy:
        throw py::value_error(std::string(what) + ": the snapshot was taken with accuracy='" +
                              (accuracy == NES::Accuracy::fast ? "hardware" : "fast") +
                              "' and this console runs with accuracy='" +
                              NES::accuracy_name(accuracy) + "'; the console is unchanged");
    case NESUnit::SnapshotVerdict::other_cartridge:
        throw py::value_error(std::string(what) +
                              ": the snapshot is of another cartridge; the console is unchanged");
    case NESUnit::SnapshotVerdict::damaged:
        throw py::value_error(std::string(what) +
                              ": the snapshot is damaged; the console is unchanged");
    }
}

} // namespace vandrel
