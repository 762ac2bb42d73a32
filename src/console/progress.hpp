// The progress lines a console prints on C standard output while it is built: the save
// folder, the cartridge's battery and format, its battery RAM file. Programs that build
// many consoles (training runs, notebooks, the tools) silence them all by setting the
// environment variable VANDREL_QUIET to anything but "" or "0"; it is read at every line,
// so it takes effect for the next console built.
#pragma once

namespace NES {

bool quiet();
// printf to standard output, flushed, unless quiet.
void progress(char const* format, ...) __attribute__((format(printf, 1, 2)));

// Silences the progress lines of the consoles this thread builds while it lives,
// whatever VANDREL_QUIET says: the batch stepper builds its consoles this way.
class QuietHere {
public:
    QuietHere();
    ~QuietHere();
    QuietHere(QuietHere const&) = delete;
    QuietHere& operator=(QuietHere const&) = delete;
};

} // namespace NES
