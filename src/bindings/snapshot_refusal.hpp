// Why a console refused a snapshot, as the ValueError both Python modules raise: the
// console module's setSnapshot and pickles, and the batch stepper's restore.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdio>
#include <string>

#include "console/accuracy.hpp"
#include "console/nes_unit.hpp"

namespace vandrel {

// "1", or "0x10003" for a hardware-mode format.
inline std::string format_name(uint32_t version) {
    char text[16];
    std::snprintf(text, sizeof text, version > 0xFFFF ? "0x%X" : "%u", unsigned(version));
    return text;
}

// Returns when the verdict is `restored`; raises ValueError naming `what` otherwise.
// `data` is the snapshot refused, whose format version the message names.
inline void check_restored(NESUnit::SnapshotVerdict verdict, NES::Accuracy accuracy,
                           char const* what, unsigned char const* data, size_t size) {
    namespace py = pybind11;
    switch (verdict) {
    case NESUnit::SnapshotVerdict::restored: return;
    case NESUnit::SnapshotVerdict::not_a_snapshot:
        throw py::value_error(std::string(what) + ": the data is not a console snapshot");
    case NESUnit::SnapshotVerdict::other_version:
        throw py::value_error(std::string(what) + ": the snapshot is of format version " +
                              format_name(NESUnit::snapshot_version(data, size).value_or(0)) +
                              ", made by another version of vandrel; this one reads format " +
                              format_name(NESUnit::snapshot_format_version(accuracy)) +
                              " (accuracy='" + NES::accuracy_name(accuracy) +
                              "'); the console is unchanged");
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
