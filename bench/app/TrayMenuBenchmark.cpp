// The tray menu's opening over a history of 10,000 clips from ten computers: the menu is filled
// from both stores (read, sorted, grouped, titled) and laid out, as when it opens (target: at
// most 30 ms). Runs without a display, in temporary folders.

#include "app/tray/TrayMenuBuilder.h"
#include "platform/UserSettings.h"
#include "store/ClipStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

using namespace snipjar;

int main(int argc, char** argv) {
    QTemporaryDir folder;
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        qputenv(name, QFile::encodeName(folder.filePath(QString::fromLatin1(name))));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    UserSettings::setValue(UserSettings::historyLengthKey, 1000);
    for (int computer = 9; computer >= 0; --computer) {
        ClipStore seeder(ClipStore::Location::onDisk,
                         ClipStore::Options{QStringLiteral("BENCH-%1").arg(computer), {}});
        auto context = seeder.syncContainer().newContext();
        for (int index = 0; index < 1000; ++index) {
            Clip clip;
            clip.kind = Clip::Kind::text;
            clip.plainText =
                QStringLiteral("Clip %1 of computer %2: the quick brown fox\njumps over the lazy dog")
                    .arg(index)
                    .arg(computer);
            seeder.insert(clip, *context);
        }
    }
    ClipStore store(ClipStore::Location::onDisk, ClipStore::Options{QStringLiteral("BENCH-0"), {}});
    QMenu menu;
    std::vector<double> times;
    for (int run = 0; run < 15; ++run) {
        QElapsedTimer timer;
        timer.start();
        TrayMenuBuilder::fill(menu, &store, TrayMenuBuilder::State{}, TrayMenuBuilder::Actions{});
        menu.adjustSize();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double first = times.front();
    std::sort(times.begin(), times.end());
    QTextStream(stdout)
        << QStringLiteral("tray menu filled over %1 clips: median %2 ms, first %3 ms (target <= 30 ms)\n")
               .arg(ClipStore::allItems(store.syncContext()).size())
               .arg(times[times.size() / 2], 0, 'f', 1)
               .arg(first, 0, 'f', 1);
    return 0;
}
