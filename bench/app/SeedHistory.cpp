// Fills the history of the current XDG data folder with text clips, so that footprint runs start
// from a realistic store: snipjar_seed_history [count]
#include "model/ClipStore.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace snipjar;

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    ClipStore store;
    auto context = store.syncContainer().newContext();
    for (int i = 0; i < count; ++i) {
        Clip clip;
        clip.kind = Clip::Kind::text;
        clip.plainText = QStringLiteral("Seeded clip %1: the quick brown fox jumps over the lazy dog").arg(i);
        clip.sourceName = QStringLiteral("Seeder");
        store.insert(clip, *context);
    }
    QTextStream(stdout) << "seeded " << count << " clips into " << store.syncContainer().filePath()
                        << Qt::endl;
    return 0;
}
