#include "TestImages.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace snipjar::test {

QByteArray makeImage(const QString& suffix, int width, int height, const QString& options) {
    static QHash<QString, QByteArray> cache;
    const QString key = QStringLiteral("%1-%2x%3-%4").arg(suffix).arg(width).arg(height).arg(options);
    if (const auto found = cache.constFind(key); found != cache.constEnd()) {
        return *found;
    }
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("image.") + suffix);
    QProcess vips;
    const QString target = options.isEmpty() ? path : path + QLatin1Char('[') + options + QLatin1Char(']');
    vips.start(QStringLiteral("vips"),
               {QStringLiteral("gaussnoise"), target, QString::number(width), QString::number(height)});
    vips.waitForFinished(60'000);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "vips could not make " << path.toStdString();
        return {};
    }
    const QByteArray bytes = file.readAll();
    cache.insert(key, bytes);
    return bytes;
}

QByteArray notAnImage() {
    return QByteArray("this is plain text, not a picture", 33);
}

} // namespace snipjar::test
