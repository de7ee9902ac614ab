#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <QUuid>

#include <memory>
#include <optional>

class QThreadPool;

namespace snipjar {

class ClipStore;
class ClipboardManagerRole;
class Pasteboard;

// Keeps the clipboard when the program that copied goes away. On X11 a copy lives in the program
// that made it: when that program quits, the clipboard is empty. The keeper then puts the newest
// clip of the history back on the clipboard, written as a paste writes it, provided the copy that
// was lost is in the history: a copy the capture skipped (a password manager's secret, a
// transient copy) is never brought back, and a concealed clip never either.
//
// It also holds the desktop's clipboard-manager role while it is enabled: a program that quits
// asks it to keep its clipboard, and it takes the clipboard over before the program goes. When
// Snipjar quits owning the clipboard and another program holds the role, it hands the clipboard to
// that program.
//
// The clipboard monitor and the ingestor tell it what became of each copy (noteCaptured,
// noteSkipped, noteFiled). Main thread only.
class ClipboardKeeper : public QObject {
    Q_OBJECT
public:
    // How long a decision waits for the capture of the copy it is about (a program that answers
    // slowly, a large clip being filed).
    static constexpr int decisionLimitMilliseconds = 2500;

    ClipboardKeeper(ClipStore& store, Pasteboard& pasteboard, ClipboardManagerRole* role,
                    QObject* parent = nullptr);
    // Waits for a clip still being loaded, since the load reads the store.
    ~ClipboardKeeper() override;

    // Takes the clipboard-manager role (when no other program has it) and keeps the clipboard, or
    // gives both up.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled; }

    // What a capture made of a change of the clipboard.
    enum class Fate {
        // Handed to the ingestor.
        captured,
        // A marker forbids keeping it.
        skipped,
        // Nothing usable was found (the capture may try again).
        nothing,
    };
    void noteCapture(qint64 changeCount, Fate fate);
    // The ingestor filed (or gave up) one clip it was handed.
    void noteFiled();

    // At quit: when the clipboard holds Snipjar's own write and another program holds the
    // clipboard-manager role, hands the clipboard to it (bounded wait).
    void handOverBeforeQuit();

signals:
    // The clip was put back on the clipboard (after its owner went, or for a quitting program).
    void restored(const QUuid& id);

private:
    struct Waiting {
        // The change whose fate decides: the lost copy comes before this count; a quitting
        // program's copy has this count.
        qint64 changeCount = 0;
        bool isHandOver = false;
        quint64 request = 0;
        qint64 deadline = 0;
    };

    void ownerLost();
    void handOverRequested(quint64 request);
    // Decides every waiting case whose capture is known, and those that waited too long.
    void decide();
    // Loads the newest clip off the main thread and writes it when the clipboard is still as it
    // was (`expectedChangeCount`); answers a hand-over when `request` is set.
    void restoreNewest(qint64 expectedChangeCount, std::optional<quint64> request);
    void answer(std::optional<quint64> request, bool saved);
    std::optional<QUuid> newestClipID();

    ClipStore& store;
    Pasteboard& pasteboard;
    ClipboardManagerRole* role;
    bool enabled = false;
    // The fate of the recent changes, by change count.
    QMap<qint64, Fate> fates;
    // Clips handed to the ingestor and not yet filed.
    int awaitingFiles = 0;
    QList<Waiting> waiting;
    QElapsedTimer clock;
    QTimer giveUpTimer;
    std::unique_ptr<QThreadPool> loader;
};

} // namespace snipjar
