#include "platform/PrivateModule.h"

#include <QFileInfo>
#include <QLibrary>

#include <memory>

namespace snipjar {

QStringList PrivateModule::candidates(const QString& fromProgram, const QString& buildFile,
                                      const QString& installedFile) {
    QStringList candidates;
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!program.isEmpty()) {
        candidates.append(QFileInfo(program).absolutePath() + QLatin1Char('/') + fromProgram);
    }
    candidates.append(buildFile);
    candidates.append(installedFile);
    return candidates;
}

QFunctionPointer PrivateModule::resolve(const QStringList& candidates, const char* entry,
                                        const QLoggingCategory& category, const char* failure) {
    QStringList errors;
    for (const QString& candidate : candidates) {
        if (!QFileInfo::exists(candidate)) {
            continue;
        }
        auto library = std::make_unique<QLibrary>(candidate);
        if (const QFunctionPointer function = library->resolve(entry)) {
            // Kept loaded for the life of the process.
            library.release();
            return function;
        }
        errors.append(library->errorString());
    }
    qCCritical(category).noquote() << failure
                                   << (errors.isEmpty() ? QStringLiteral("It is not installed.")
                                                        : errors.join(u"; "));
    return nullptr;
}

} // namespace snipjar
