#pragma once

#include "PanelTestSupport.h"
#include "panel/widgets/ResultsCallbacks.h"

#include <QImage>
#include <QWidget>

#include <optional>

namespace snipjar::test {

// The panel tests' real store and model, with callbacks that record what the views report and
// forward the delete and pin to the model as the controller does.
class ViewTest : public PanelTest {
protected:
    ResultsCallbacks callbacks() {
        ResultsCallbacks made;
        made.onTogglePin = [this] { model->togglePinSelected(); };
        made.onDelete = [this] { model->deleteSelected(); };
        made.onSelectMac = [this](const std::optional<QString>& id) { selectedMac = id; };
        made.onSelectRow = [this](int index) { selectedRows.append(index); };
        made.onPasteRow = [this](int index) { pastedRows.append(index); };
        return made;
    }

    // Shows the panel afresh and waits for the first row's preview, images included.
    bool showAndWait() {
        model->resetForHide();
        showPanel();
        return waitUntil([this] {
            const auto& preview = model->preview();
            return preview && (preview->kind != ClipKind::image || !preview->image.isNull());
        });
    }

    // Shows the panel afresh, selects the first row that passes the test and waits for its preview.
    template <typename Test> bool showRow(Test test) {
        if (!showAndWait()) {
            return false;
        }
        for (qsizetype index = 0; index < model->visibleCount(); ++index) {
            const PanelRow row = model->visibleRow(index);
            if (test(row)) {
                model->setSelection(int(index));
                model->loadPreview();
                return waitUntil([this, row] {
                    const auto& preview = model->preview();
                    return preview && preview->kind == row.kind && preview->concealed == row.concealed &&
                           (preview->kind != ClipKind::image || !preview->image.isNull());
                });
            }
        }
        return false;
    }

    // Only the views' own painting, on a transparent image: no window background.
    static QImage paintOnly(QWidget& widget) {
        QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
    static int paintedPixels(const QImage& image, const QRect& area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
            }
        }
        return count;
    }

    std::optional<std::optional<QString>> selectedMac;
    QList<int> selectedRows;
    QList<int> pastedRows;
};

} // namespace snipjar::test
