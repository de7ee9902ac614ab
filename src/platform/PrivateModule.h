#pragma once

#include <QFunctionPointer>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

namespace snipjar {

// Loads one of Snipjar's private shared modules, which carry the code that needs large libraries
// (the image libraries, Wayland's client libraries, Qt Network) so that a start links none of them
// until it is needed. A module is looked for where it is installed relative to the running program (so that a
// package installed under any prefix finds its own), in the build folder (tests and runs from a
// build), then where the build would install it. Loaded modules are never unloaded: the code they
// hand out and their libraries' global state live as long as the process.
class PrivateModule {
public:
    // The places to look, in that order. fromProgram is relative to the running program's folder.
    static QStringList candidates(const QString& fromProgram, const QString& buildFile,
                                  const QString& installedFile);
    // The entry point of the first candidate that exists and resolves it. When none does, logs
    // failure in category with what each attempt said (or that the module is not installed) and
    // returns null.
    static QFunctionPointer resolve(const QStringList& candidates, const char* entry,
                                    const QLoggingCategory& category, const char* failure);
    // What the module's entry point (a function without arguments) hands out, or null as above.
    template <typename Interface>
    static const Interface* interface(const QStringList& candidates, const char* entry,
                                      const QLoggingCategory& category, const char* failure) {
        using Entry = const Interface* (*)();
        const auto function = reinterpret_cast<Entry>(resolve(candidates, entry, category, failure));
        return function ? function() : nullptr;
    }
};

} // namespace snipjar
