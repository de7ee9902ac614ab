#pragma once

#include "panel/PanelRow.h"
#include "panel/TypeScope.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace snipjar {

// Decides which rows the panel shows for a query, a kind filter and a computer filter.
//
// The search folds letter case only: no diacritics, widths or locale, no words, no ranking. Texts
// in different Unicode normal forms still match (both sides are composed first), and a match that
// ends inside a character (before a combining accent) does not count, so "e" never finds "é".
//
// Every row's title is folded once, when the rows are set, into one UTF-8 buffer with a separator
// after each title. A keystroke then scans that one block of memory for the query's rarest byte
// and compares only there, without allocating anything per row.
class RowFilter {
public:
    // Folds the titles of the rows; the filter answers for these rows until the next call.
    void index(const QList<PanelRow>& rows);

    // The positions of the rows that pass, in row order, written into `visible` (whose capacity
    // is reused between keystrokes).
    void filter(const QList<PanelRow>& rows, const QString& query, TypeScope typeScope,
                const std::optional<QString>& macScope, std::vector<qsizetype>& visible) const;

    // The form, in UTF-8, both the titles and the query are compared in.
    static QByteArray fold(const QString& text);

private:
    QByteArray folded;
    // Where each row's folded title starts in `folded`; one more entry marks the end, so that
    // a filter that has indexed nothing yet holds no rows.
    std::vector<qsizetype> starts{0};
};

} // namespace snipjar
