#include "image/ImageCodec.h"

#include "platform/LogCategories.h"

#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

namespace snipjar {

namespace {

// Where the module is: where it is installed relative to the application (so that a package
// installed under any prefix finds its own), in the build folder (tests and runs from a build),
// then where it is installed.
QStringList moduleCandidates() {
    QStringList candidates;
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!executable.isEmpty()) {
        candidates.append(QFileInfo(executable).absolutePath() +
                          QStringLiteral("/" SNIPJAR_IMAGING_FROM_APPLICATION));
    }
    candidates.append(QStringLiteral(SNIPJAR_IMAGING_BUILD_FILE));
    candidates.append(QStringLiteral(SNIPJAR_IMAGING_INSTALLED_FILE));
    return candidates;
}

const ImageCodec* loadModule() {
    QStringList errors;
    for (const QString& candidate : moduleCandidates()) {
        if (!QFileInfo::exists(candidate)) {
            continue;
        }
        // Never unloaded: the codec and the libraries' global state live as long as the process.
        auto* library = new QLibrary(candidate);
        const auto entry =
            reinterpret_cast<SnipjarImageCodecEntry>(library->resolve(SNIPJAR_IMAGE_CODEC_ENTRY));
        if (entry) {
            return entry();
        }
        errors.append(library->errorString());
        delete library;
    }
    qCCritical(lcImage).noquote() << "The image module cannot be loaded; images cannot be read."
                                  << (errors.isEmpty() ? QStringLiteral("It is not installed.")
                                                       : errors.join(u"; "));
    return nullptr;
}

} // namespace

const ImageCodec* ImageCodec::loaded() {
    static const ImageCodec* const codec = loadModule();
    return codec;
}

} // namespace snipjar
