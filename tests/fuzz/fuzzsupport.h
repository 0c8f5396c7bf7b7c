#pragma once
// Shared by the fuzz targets: the libFuzzer entry point and a Qt application
// for the targets that need widgets.

#include <QApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace Fuzz {

inline void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Stops the target on a broken property, so libFuzzer records the input.
[[noreturn]] void fail(const char *what);

inline void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

} // namespace Fuzz
