#pragma once

#include "platform/Pasteboard.h"

#include <QByteArray>
#include <QByteArrayList>

namespace snipjar {

// A clipboard whose owner offers its contents under MIME types (X11 selections, Wayland offers):
// the type list, the plain-text flavour, the URL lists and the concealing markers are made here
// from two things a platform supplies, the offered targets and one target's bytes.
class MimePasteboard : public Pasteboard {
    Q_OBJECT
public:
    using Pasteboard::Pasteboard;

    QStringList types() override;
    PasteboardRead read(const QString& type, qint64 byteCap = noByteCap) override;
    PasteboardString readString(qint64 byteCap) override;
    std::optional<QStringList> fileURLs() override;
    std::optional<QStringList> urls() override;

protected:
    // A read outside a capture is a capture of its own.
    class ReadScope {
    public:
        explicit ReadScope(MimePasteboard& pasteboard);
        ~ReadScope();
        ReadScope(const ReadScope&) = delete;
        ReadScope& operator=(const ReadScope&) = delete;

    private:
        MimePasteboard& pasteboard_;
        bool ownsCapture_ = false;
    };

    virtual bool isCapturing() = 0;
    // The targets offered by the current owner (empty when there is none or it does not answer).
    virtual QByteArrayList offeredTargets() = 0;
    // One target's bytes for the current change.
    virtual PasteboardRead readTarget(const QByteArray& target, qint64 byteCap) = 0;

private:
    // The marker target offered whose value conceals the copy, or that cannot be read (a marker
    // whose value is unknown may be saying "secret"); empty when there is none.
    QByteArray concealingMarker(const QByteArrayList& offered);
    QByteArray firstAvailable(const QByteArrayList& targets);
};

} // namespace snipjar
