#include "app/update/HttpGet.h"

#include "platform/LogCategories.h"
#include "platform/PrivateModule.h"

namespace snipjar {

const HttpModule* HttpModule::loaded() {
    static const HttpModule* const module = PrivateModule::interface<HttpModule>(
        PrivateModule::candidates(QStringLiteral(SNIPJAR_UPDATE_HTTP_FROM_PROGRAM),
                                  QStringLiteral(SNIPJAR_UPDATE_HTTP_BUILD_FILE),
                                  QStringLiteral(SNIPJAR_UPDATE_HTTP_INSTALLED_FILE)),
        SNIPJAR_HTTP_MODULE_ENTRY, lcUpdate(),
        "The network module cannot be loaded; updates can be neither checked nor downloaded.");
    return module;
}

} // namespace snipjar
