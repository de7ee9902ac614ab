#pragma once

#include "platform/Workspace.h"

#include <QObject>
#include <QUuid>

#include <deque>
#include <memory>
#include <optional>

class QThreadPool;

namespace snipjar {

class ClipStore;
class Paster;

// Pastes a clip of the history by its id, for the panel and the tray menu alike: the clip moves to
// the top of the history, is loaded off the main thread (with the bitmap companion of a small
// PDF), and then goes to the Paster with the window that was in front when the panel or menu
// opened. Pastes happen one after another in the order asked, whether from the panel or the tray.
// A clip that cannot be loaded pastes nothing and says nothing. Main thread only.
class StoredClipPaster : public QObject {
    Q_OBJECT
public:
    StoredClipPaster(ClipStore& store, Paster& paster, Workspace& workspace, QObject* parent = nullptr);
    // Waits for a load still running, since it reads the store.
    ~StoredClipPaster() override;

    void paste(const QUuid& id, const std::optional<RunningApplication>& target);

signals:
    // The clip went to the Paster (tests follow the paste with it).
    void pasted(const QUuid& id);

private:
    struct Request {
        QUuid id;
        std::optional<RunningApplication> target;
    };
    void loadNext();

    ClipStore& store;
    Paster& paster;
    Workspace& workspace;
    std::unique_ptr<QThreadPool> loader;
    // Pastes asked for while another one loads, oldest first.
    std::deque<Request> waiting;
    bool loading = false;
};

} // namespace snipjar
