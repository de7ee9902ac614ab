// Fills the history of the current XDG data folder with clips, so that footprint runs start from a
// realistic store: snipjar_seed_history [count] [--images] [--computers N]
// With --images every tenth clip is a distinct photo-like 1600 × 1200 JPEG. With --computers the
// clips come from N computers in turn (each keeps at most the history length), as a synced
// history does.
#include "store/ClipStore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QTextStream>

#include <memory>
#include <vector>

using namespace snipjar;

namespace {

QByteArray photoJpeg(int seed) {
    QImage image(1600, 1200, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            line[x] = qRgb((x + seed * 37) % 256, (y + seed * 11) % 256, ((x ^ y) + seed) % 256);
        }
    }
    // The pattern repeats after 128 seeds; a corner coloured by the seed keeps every photo distinct.
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            image.setPixel(x, y, qRgb(seed & 0xff, (seed >> 8) & 0xff, 128));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const bool images = arguments.contains(QStringLiteral("--images"));
    int count = 1000;
    int computers = 1;
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        bool ok = false;
        if (arguments[index] == QLatin1String("--computers") && index + 1 < arguments.size()) {
            computers = std::max(1, arguments[++index].toInt());
        } else if (const int number = arguments[index].toInt(&ok); ok) {
            count = number;
        }
    }
    std::vector<std::unique_ptr<ClipStore>> stores;
    for (int computer = 0; computer < computers; ++computer) {
        stores.push_back(computer == 0
                             ? std::make_unique<ClipStore>()
                             : std::make_unique<ClipStore>(
                                   ClipStore::Location::onDisk,
                                   ClipStore::Options{QStringLiteral("SEEDED-%1").arg(computer), {}}));
    }
    ClipStore& store = *stores.front();
    for (int i = 0; i < count; ++i) {
        ClipStore& seeder = *stores[size_t(i % computers)];
        auto context = seeder.syncContainer().newContext();
        Clip clip;
        if (images && i % 10 == 0) {
            clip.kind = Clip::Kind::image;
            clip.imageData = photoJpeg(i);
        } else {
            clip.kind = Clip::Kind::text;
            clip.plainText =
                QStringLiteral("Seeded clip %1: the quick brown fox jumps over the lazy dog").arg(i);
        }
        clip.sourceName = QStringLiteral("Seeder");
        seeder.insert(clip, *context);
    }
    QTextStream(stdout) << "seeded " << count << " clips into " << store.syncContainer().filePath()
                        << Qt::endl;
    return 0;
}
