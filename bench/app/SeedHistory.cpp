// Fills the history of the current XDG data folder with clips, so that footprint runs start from a
// realistic store: snipjar_seed_history [count] [--images]
// With --images every tenth clip is a distinct photo-like 1600 × 1200 JPEG.
#include "model/ClipStore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QTextStream>

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
    for (const QString& argument : arguments) {
        bool ok = false;
        if (const int number = argument.toInt(&ok); ok) {
            count = number;
        }
    }
    ClipStore store;
    auto context = store.syncContainer().newContext();
    for (int i = 0; i < count; ++i) {
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
        store.insert(clip, *context);
    }
    QTextStream(stdout) << "seeded " << count << " clips into " << store.syncContainer().filePath()
                        << Qt::endl;
    return 0;
}
