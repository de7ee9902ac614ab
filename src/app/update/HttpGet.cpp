#include "app/update/HttpGet.h"

#include "platform/LogCategories.h"
#include "platform/PrivateModule.h"

namespace snipjar {

namespace {

const HttpModule* loadModule() {
    const QStringList candidates = PrivateModule::candidates(
        QStringLiteral(SNIPJAR_UPDATE_HTTP_FROM_PROGRAM), QStringLiteral(SNIPJAR_UPDATE_HTTP_BUILD_FILE),
        QStringLiteral(SNIPJAR_UPDATE_HTTP_INSTALLED_FILE));
    if (const auto entry = reinterpret_cast<SnipjarHttpModuleEntry>(PrivateModule::resolve(
            candidates, SNIPJAR_HTTP_MODULE_ENTRY, lcUpdate(),
            "The network module cannot be loaded; updates can be neither checked nor downloaded."))) {
        return entry();
    }
    return nullptr;
}

} // namespace

const HttpModule* HttpModule::loaded() {
    static const HttpModule* const module = loadModule();
    return module;
}

} // namespace snipjar
