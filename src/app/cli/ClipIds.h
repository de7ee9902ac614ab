#pragma once

#include "store/HistoryReader.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <variant>

namespace snipjar {

// Finds the clip an id given on the command line names: the whole id (with or without braces and
// dashes, any letter case), a prefix of it that only one clip of the history starts with, or a
// position in `list`'s order: @0 the clip copied last, @1 the one before, and so on. Only the rows
// list prints count: the newest item of each group.
class ClipIds {
public:
    // The item, or the one-line reason there is none.
    static std::variant<HistoryEntry, QString> resolve(const QString& given,
                                                       const QList<HistoryEntry>& entries);
    // The form ids are printed in: uppercase, with dashes, without braces.
    static QString printed(const QUuid& id);
};

} // namespace snipjar
