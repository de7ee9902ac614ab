#include "app/tray/TrayMenuBuilder.h"

#include "app/tray/MenuClipText.h"
#include "app/tray/MenuDrillRow.h"
#include "panel/widgets/PanelSymbols.h"
#include "paste/KeyComboText.h"
#include "platform/UserSettings.h"
#include "store/ClipStore.h"

#include <QFontMetrics>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QSet>
#include <QShortcut>
#include <QTimer>
#include <QWidgetAction>

#include <algorithm>

namespace snipjar {

namespace {

QList<ClipItem> newestFirst(ClipStore& store) {
    QList<ClipItem> items =
        ClipStore::allItems(store.syncContext()) + ClipStore::allItems(store.localContext());
    std::stable_sort(items.begin(), items.end(),
                     [](const ClipItem& a, const ClipItem& b) { return a.createdAt > b.createdAt; });
    return items;
}

void addHistoryItems(QMenu& menu, const QList<ClipItem>& clips, const QString& emptyTitle,
                     const TrayMenuBuilder::Actions& actions) {
    if (clips.isEmpty()) {
        menu.addAction(emptyTitle)->setEnabled(false);
        return;
    }
    const QFontMetrics metrics(menu.font());
    const qsizetype count = std::min<qsizetype>(UserSettings::menuClipLimit(), clips.size());
    for (qsizetype index = 0; index < count; ++index) {
        const ClipItem& clip = clips[index];
        QAction* item = menu.addAction(MenuClipText::icon(clip), MenuClipText::title(clip, metrics));
        // An ampersand in a clip is text, not a mnemonic.
        item->setText(item->text().replace(QLatin1Char('&'), QStringLiteral("&&")));
        item->setData(clip.id);
        QObject::connect(item, &QAction::triggered, &menu, [paste = actions.pasteClip, id = clip.id] {
            if (paste) {
                paste(id);
            }
        });
    }
}

void addDrillRow(QMenu& menu, const QString& title, const QString& symbol, MenuDrillRow::Chevron chevron,
                 const std::optional<QString>& scope, const TrayMenuBuilder::Actions& actions) {
    auto* action = new QWidgetAction(&menu);
    const QPointer<QMenu> guard(&menu);
    // The menu is rebuilt on the next turn, not inside the click of a row it is about to delete.
    auto* row = new MenuDrillRow(title, symbol, chevron, [guard, scope, drill = actions.drill] {
        QTimer::singleShot(0, guard, [guard, scope, drill] {
            if (guard && drill) {
                drill(scope);
            }
        });
    });
    action->setDefaultWidget(row);
    menu.addAction(action);
}

QAction* addCommand(QMenu& menu, const QString& text, const QString& shortcut,
                    const std::function<void()>& run) {
    QAction* item = menu.addAction(shortcut.isEmpty() ? text : text + QLatin1Char('\t') + shortcut);
    QObject::connect(item, &QAction::triggered, &menu, [run] {
        if (run) {
            run();
        }
    });
    return item;
}

// Makes the combination written beside an item work while the menu is open. Qt does not match an
// item's own shortcut inside a popup that belongs to no menu bar, so the menu carries the shortcut;
// the menu closes first, as after a click.
void bindShortcut(QMenu& menu, const QKeySequence& keys, QAction* item) {
    auto* shortcut = new QShortcut(keys, &menu);
    shortcut->setObjectName(QStringLiteral("TrayMenuShortcut"));
    QObject::connect(shortcut, &QShortcut::activated, item, [guard = QPointer<QMenu>(&menu), item] {
        if (guard) {
            guard->hide();
        }
        item->trigger();
    });
}

} // namespace

QString TrayMenuBuilder::pausedItemText(const std::optional<QDateTime>& until) {
    if (until) {
        return QStringLiteral("Recording Paused until %1 \u2014 Resume")
            .arg(QLocale().toString(until->toLocalTime().time(), QLocale::ShortFormat));
    }
    return QStringLiteral("Recording Paused \u2014 Resume");
}

void TrayMenuBuilder::fill(QMenu& menu, ClipStore* store, const State& state, const Actions& actions) {
    menu.clear();
    // The shortcuts of the last filling, which triggered the items clear() just deleted.
    qDeleteAll(menu.findChildren<QShortcut*>(QStringLiteral("TrayMenuShortcut"), Qt::FindDirectChildrenOnly));
    menu.setMinimumWidth(minimumWidth);
    const QList<ClipItem> items = store ? newestFirst(*store) : QList<ClipItem>();

    QList<MacRef> computers = store ? ClipStore::macs(items, store->devices()) : QList<MacRef>();
    if (store) {
        // This computer comes first.
        const auto self = std::find_if(computers.begin(), computers.end(), [&](const MacRef& computer) {
            return computer.id == store->thisDeviceID();
        });
        if (self != computers.end() && self != computers.begin()) {
            std::rotate(computers.begin(), self, self + 1);
        }
    }

    if (state.recordingPaused) {
        addCommand(menu, pausedItemText(state.pausedUntil), QString(), actions.resumeRecording)
            ->setObjectName(QStringLiteral("ResumeRecording"));
        menu.addSeparator();
    }
    QAction* search = addCommand(menu, QStringLiteral("Search\u2026"), state.hotKey.linuxDisplayString(),
                                 actions.showPanel);
    search->setIcon(panelSymbol(QStringLiteral("magnifyingglass")));
    menu.addSeparator();

    if (!state.computerScope) {
        // The newest item of each group, in the groups' order: in a newest-first list that is each
        // content's first appearance, and the walk stops once the menu is full.
        QList<ClipItem> newest;
        QSet<QString> seen;
        const qsizetype limit = UserSettings::menuClipLimit();
        for (const ClipItem& item : items) {
            if (newest.size() >= limit) {
                break;
            }
            // Secrets and items without a key stand alone.
            const bool standsAlone = item.concealed || item.dedupKey.isEmpty();
            if (standsAlone || !seen.contains(item.dedupKey)) {
                seen.insert(item.dedupKey);
                newest.append(item);
            }
        }
        addHistoryItems(menu, newest, QStringLiteral("No clipboard history"), actions);
        if (computers.size() > 1) {
            menu.addSeparator();
            menu.addSection(QStringLiteral("Computers"));
            for (qsizetype index = 0; index < std::min<qsizetype>(computerLimit, computers.size()); ++index) {
                addDrillRow(menu, computers[index].name, QStringLiteral("desktopcomputer"),
                            MenuDrillRow::Chevron::shown, computers[index].id, actions);
            }
        }
    } else {
        const auto named = std::find_if(computers.begin(), computers.end(), [&](const MacRef& computer) {
            return computer.id == *state.computerScope;
        });
        const QString name = named != computers.end() ? named->name : QStringLiteral("Computer");
        addDrillRow(menu, QStringLiteral("Back"), QStringLiteral("chevron.left"),
                    MenuDrillRow::Chevron::hidden, std::nullopt, actions);
        menu.addSection(name);
        QList<ClipItem> fromComputer;
        std::copy_if(items.begin(), items.end(), std::back_inserter(fromComputer),
                     [&](const ClipItem& item) { return item.deviceID == *state.computerScope; });
        addHistoryItems(menu, fromComputer, QStringLiteral("No clips from ") + name, actions);
    }

    menu.addSeparator();
    if (state.syncAvailable) {
        if (state.isSyncing) {
            menu.addAction(QStringLiteral("Syncing\u2026"))->setEnabled(false);
        }
        addCommand(menu, QStringLiteral("Sync Now"), QString(), actions.syncNow);
    }
    if (state.syncProblem && !state.syncProblem->isEmpty()) {
        QAction* problem = menu.addAction(*state.syncProblem);
        // A server's message is text, not a mnemonic.
        problem->setText(problem->text().replace(QLatin1Char('&'), QStringLiteral("&&")));
        problem->setEnabled(false);
    }
    if (state.syncAvailable || (state.syncProblem && !state.syncProblem->isEmpty())) {
        menu.addSeparator();
    }
    QAction* settings =
        addCommand(menu, QStringLiteral("Settings\u2026"),
                   keyComboText(HotKeyCombo::commandBit, QStringLiteral(",")), actions.openSettings);
    addCommand(menu, state.updatesText, QString(), actions.checkForUpdates)->setEnabled(state.updatesEnabled);
    QAction* quit = addCommand(menu, QStringLiteral("Quit Snipjar"),
                               keyComboText(HotKeyCombo::commandBit, QStringLiteral("Q")), actions.quit);
    bindShortcut(menu, QKeySequence(Qt::CTRL | Qt::Key_Comma), settings);
    bindShortcut(menu, QKeySequence(Qt::CTRL | Qt::Key_Q), quit);
}

} // namespace snipjar
