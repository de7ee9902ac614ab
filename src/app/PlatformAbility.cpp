#include "app/PlatformAbility.h"

#include "platform/PlatformServices.h"

namespace snipjar {

QList<PlatformAbility> PlatformAbility::of(PlatformServices& platform) {
    QList<PlatformAbility> abilities;
    if (platform.keySynthesizer && platform.keySynthesizer->isTrusted()) {
        abilities.append({QStringLiteral("pasting"), QStringLiteral("Pasting"),
                          QStringLiteral("typed into the window in front"), false});
    } else {
        abilities.append({QStringLiteral("pasting"), QStringLiteral("Pasting"),
                          QStringLiteral("by hand — this desktop offers no way to type for another program"),
                          true});
    }
    if (platform.globalHotKeys && platform.globalHotKeys->grabsKeys()) {
        abilities.append({QStringLiteral("hotKey"), QStringLiteral("Hot key"),
                          QStringLiteral("grabbed by Snipjar"), false});
    } else {
        abilities.append(
            {QStringLiteral("hotKey"), QStringLiteral("Hot key"),
             QStringLiteral("run by the desktop, which runs “snipjar show-panel” (set it up under "
                            "Shortcut in Snipjar's settings)"),
             true});
    }
    return abilities;
}

} // namespace snipjar
