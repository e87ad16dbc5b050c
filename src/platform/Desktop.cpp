#include "platform/Desktop.h"

#include <cstdlib>

namespace {
Desktop* installed = nullptr;
}

Desktop& desktop() {
    // Nothing may run before main() installs a desktop; fail loudly if it does.
    if (!installed) std::abort();
    return *installed;
}

void setDesktop(Desktop* d) { installed = d; }

void End() {
    desktop().endProcess();
    std::abort();  // an endProcess that returns is a broken desktop
}
