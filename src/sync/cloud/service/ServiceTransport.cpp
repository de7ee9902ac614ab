#include "sync/cloud/service/ServiceTransport.h"

#include "platform/LogCategories.h"
#include "platform/PrivateModule.h"

namespace snipjar::cloud {

const ServiceNetworkModule* ServiceNetworkModule::loaded() {
    static const ServiceNetworkModule* const module = PrivateModule::interface<ServiceNetworkModule>(
        PrivateModule::candidates(QStringLiteral(SNIPJAR_SERVICE_NETWORK_FROM_PROGRAM),
                                  QStringLiteral(SNIPJAR_SERVICE_NETWORK_BUILD_FILE),
                                  QStringLiteral(SNIPJAR_SERVICE_NETWORK_INSTALLED_FILE)),
        SNIPJAR_SERVICE_NETWORK_ENTRY, lcSync(),
        "The network module cannot be loaded; the sync service cannot be reached.");
    return module;
}

} // namespace snipjar::cloud
