// Files clips into the history store until it is killed, printing the id of every clip whose
// insert has returned ("I <id>"), of every item about to be deleted ("R <id>") and of every item
// whose deletion has returned ("D <id>"). The
// crash test kills it at random moments and checks that the store kept exactly what was promised.

#include "store/ClipStore.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <cstdio>

using namespace snipjar;

namespace {

QByteArray randomBytes(QRandomGenerator& random, qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / qsizetype(sizeof(quint32)));
    return bytes;
}

// Alternates between payload files (images, rich text over the file threshold), long texts kept in
// the row, and short texts without a payload.
Clip nextClip(QRandomGenerator& random, int index) {
    Clip clip;
    switch (index % 4) {
    case 0:
        clip.kind = Clip::Kind::image;
        clip.imageData = randomBytes(random, random.bounded(70'000, 3'000'000));
        clip.dataUTI = QStringLiteral("public.png");
        break;
    case 1:
        clip.kind = Clip::Kind::richText;
        clip.plainText = QStringLiteral("rich %1").arg(index);
        clip.richTextData = randomBytes(random, random.bounded(1'000, 400'000));
        break;
    case 2:
        clip.kind = Clip::Kind::text;
        clip.plainText = QString(random.bounded(5'001, 30'000), QLatin1Char('t')) + QString::number(index);
        break;
    default:
        clip.kind = Clip::Kind::text;
        clip.plainText = QStringLiteral("short %1 %2").arg(index).arg(random.generate());
        break;
    }
    return clip;
}

void announce(char what, const QUuid& id) {
    std::printf("%c %s\n", what, id.toString(QUuid::WithoutBraces).toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ClipStore store(ClipStore::Location::onDisk, ClipStore::Options{QStringLiteral("CRASH-MAC"), {}});
    QRandomGenerator random(quint32(QCoreApplication::applicationPid()));
    QUuid deletable;
    for (int index = 0;; ++index) {
        const Clip clip = nextClip(random, index);
        ModelContainer& container = index % 3 == 0 ? store.localContainer() : store.syncContainer();
        const std::unique_ptr<ModelContext> context = container.newContext();
        const QList<ClipSyncChange> changes = store.insert(clip, *context);
        if (changes.isEmpty()) {
            continue;
        }
        announce('I', changes.constLast().id);
        if (index % 5 == 4 && !deletable.isNull()) {
            announce('R', deletable);
            store.remove(deletable);
            announce('D', deletable);
            deletable = QUuid();
        } else if (index % 5 == 1) {
            deletable = changes.constLast().id;
        }
    }
}
