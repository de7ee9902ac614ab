#include "paste/HotKeyCombo.h"

#include "paste/KeyComboText.h"
#include "paste/PasteKeyTable.h"
#include "platform/UserSettings.h"

#include <QRegularExpression>
#include <QStringList>

namespace snipjar {

namespace {

const QString commandSymbol = QStringLiteral("⌘");
const QString optionSymbol = QStringLiteral("⌥");
const QString shiftSymbol = QStringLiteral("⇧");
const QString controlSymbol = QStringLiteral("⌃");

std::optional<quint32> modifierBitForToken(const QString& token) {
    static const QHash<QString, quint32> modifierTokens = {
        {QStringLiteral("cmd"), HotKeyCombo::commandBit},
        {QStringLiteral("command"), HotKeyCombo::commandBit},
        {commandSymbol, HotKeyCombo::commandBit},
        {QStringLiteral("opt"), HotKeyCombo::optionBit},
        {QStringLiteral("option"), HotKeyCombo::optionBit},
        {QStringLiteral("alt"), HotKeyCombo::optionBit},
        {optionSymbol, HotKeyCombo::optionBit},
        {QStringLiteral("shift"), HotKeyCombo::shiftBit},
        {shiftSymbol, HotKeyCombo::shiftBit},
        {QStringLiteral("ctrl"), HotKeyCombo::controlBit},
        {QStringLiteral("control"), HotKeyCombo::controlBit},
        {controlSymbol, HotKeyCombo::controlBit},
    };
    auto found = modifierTokens.constFind(token);
    if (found == modifierTokens.constEnd()) {
        return std::nullopt;
    }
    return *found;
}

// The modifier names of linuxDisplayString(), and the synonyms people write for them.
std::optional<quint32> linuxModifierBitForToken(const QString& token) {
    static const QHash<QString, quint32> modifierTokens = {
        {QStringLiteral("ctrl"), HotKeyCombo::commandBit},
        {QStringLiteral("control"), HotKeyCombo::commandBit},
        {QStringLiteral("alt"), HotKeyCombo::optionBit},
        {QStringLiteral("shift"), HotKeyCombo::shiftBit},
        {QStringLiteral("super"), HotKeyCombo::controlBit},
        {QStringLiteral("meta"), HotKeyCombo::controlBit},
    };
    auto found = modifierTokens.constFind(token);
    if (found == modifierTokens.constEnd()) {
        return std::nullopt;
    }
    return *found;
}

bool isModifierSymbol(QChar character) {
    return character == commandSymbol.front() || character == optionSymbol.front() ||
           character == shiftSymbol.front() || character == controlSymbol.front();
}

std::optional<HotKeyCombo> comboForKeyName(const QString& name, Qt::KeyboardModifiers modifiers) {
    const quint32 bits = HotKeyCombo::modifierBits(modifiers);
    if (bits == 0) {
        return std::nullopt;
    }
    const auto& table = HotKeyCombo::keyNameTable();
    auto found = table.constFind(name);
    if (found == table.constEnd()) {
        return std::nullopt;
    }
    return HotKeyCombo{*found, bits, name.toUpper()};
}

} // namespace

HotKeyCombo HotKeyCombo::defaultCombo() {
    return HotKeyCombo{9, commandBit | optionBit, QStringLiteral("V")};
}

HotKeyCombo HotKeyCombo::fromSettings() {
    // A hand-edited Ctrl+V or Shift+A would catch Snipjar's own paste or a capital letter.
    const std::optional<QString> stored = UserSettings::hotKey();
    const std::optional<HotKeyCombo> parsed = stored ? parseSetting(*stored) : std::nullopt;
    return parsed && !parsed->refusal() ? *parsed : defaultCombo();
}

const QHash<QString, quint32>& HotKeyCombo::keyNameTable() {
    // The ANSI virtual key codes of the letters and digits; the codes are part of the stored value.
    static const QHash<QString, quint32> table = {
        {QStringLiteral("a"), 0},  {QStringLiteral("b"), 11}, {QStringLiteral("c"), 8},
        {QStringLiteral("d"), 2},  {QStringLiteral("e"), 14}, {QStringLiteral("f"), 3},
        {QStringLiteral("g"), 5},  {QStringLiteral("h"), 4},  {QStringLiteral("i"), 34},
        {QStringLiteral("j"), 38}, {QStringLiteral("k"), 40}, {QStringLiteral("l"), 37},
        {QStringLiteral("m"), 46}, {QStringLiteral("n"), 45}, {QStringLiteral("o"), 31},
        {QStringLiteral("p"), 35}, {QStringLiteral("q"), 12}, {QStringLiteral("r"), 15},
        {QStringLiteral("s"), 1},  {QStringLiteral("t"), 17}, {QStringLiteral("u"), 32},
        {QStringLiteral("v"), 9},  {QStringLiteral("w"), 13}, {QStringLiteral("x"), 7},
        {QStringLiteral("y"), 16}, {QStringLiteral("z"), 6},  {QStringLiteral("0"), 29},
        {QStringLiteral("1"), 18}, {QStringLiteral("2"), 19}, {QStringLiteral("3"), 20},
        {QStringLiteral("4"), 21}, {QStringLiteral("5"), 23}, {QStringLiteral("6"), 22},
        {QStringLiteral("7"), 26}, {QStringLiteral("8"), 28}, {QStringLiteral("9"), 25},
    };
    return table;
}

QString HotKeyCombo::displayString() const {
    QString result;
    if (carbonModifiers & controlBit) {
        result += controlSymbol;
    }
    if (carbonModifiers & optionBit) {
        result += optionSymbol;
    }
    if (carbonModifiers & shiftBit) {
        result += shiftSymbol;
    }
    if (carbonModifiers & commandBit) {
        result += commandSymbol;
    }
    return result + keyLabel;
}

QString HotKeyCombo::linuxDisplayString() const {
    return keyComboText(carbonModifiers, keyLabel);
}

std::optional<HotKeyCombo> HotKeyCombo::parse(const QString& text) {
    // Symbols may be written without separators (⌥⌘V), so each is set apart by spaces first.
    QString spaced = text;
    for (const QString& symbol : {commandSymbol, optionSymbol, shiftSymbol, controlSymbol}) {
        spaced.replace(symbol, QLatin1Char(' ') + symbol + QLatin1Char(' '));
    }
    static const QRegularExpression separators(QStringLiteral("[ +]"));
    const QStringList tokens = spaced.toLower().split(separators, Qt::SkipEmptyParts);

    quint32 modifiers = 0;
    std::optional<quint32> keyCode;
    QString keyLabel;
    for (const QString& token : tokens) {
        if (auto bit = modifierBitForToken(token)) {
            modifiers |= *bit;
            continue;
        }
        const auto& table = keyNameTable();
        auto found = table.constFind(token);
        if (found == table.constEnd()) {
            return std::nullopt;
        }
        keyCode = *found;
        keyLabel = token.toUpper();
    }
    if (!keyCode || modifiers == 0) {
        return std::nullopt;
    }
    return HotKeyCombo{*keyCode, modifiers, keyLabel};
}

std::optional<HotKeyCombo> HotKeyCombo::parseLinuxForm(const QString& text) {
    quint32 modifiers = 0;
    std::optional<HotKeyCombo> key;
    for (const QString& part : text.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        const QString token = part.trimmed().toLower();
        if (auto bit = linuxModifierBitForToken(token)) {
            modifiers |= *bit;
            continue;
        }
        const auto& table = keyNameTable();
        auto found = table.constFind(token);
        // A second key would be a chord, which a hot key cannot be.
        if (found == table.constEnd() || key) {
            return std::nullopt;
        }
        key = HotKeyCombo{*found, 0, token.toUpper()};
    }
    if (!key || modifiers == 0) {
        return std::nullopt;
    }
    key->carbonModifiers = modifiers;
    return key;
}

std::optional<HotKeyCombo> HotKeyCombo::parseSetting(const QString& text) {
    // The symbol form is tried only on symbols: its word "ctrl" would read Ctrl+Alt+V as Super+Alt+V.
    const QString compact = text.simplified().remove(QLatin1Char(' '));
    if (!compact.isEmpty() && isModifierSymbol(compact.front())) {
        return parse(compact);
    }
    return parseLinuxForm(text);
}

std::optional<HotKeyCombo> HotKeyCombo::fromKeyPress(int qtKey, Qt::KeyboardModifiers modifiers) {
    QString name;
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        name = QChar(u'a' + (qtKey - Qt::Key_A));
    } else if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        name = QChar(u'0' + (qtKey - Qt::Key_0));
    } else {
        return std::nullopt;
    }
    return comboForKeyName(name, modifiers);
}

std::optional<HotKeyCombo> HotKeyCombo::fromKeyPress(const QString& keyLabel,
                                                     Qt::KeyboardModifiers modifiers) {
    return comboForKeyName(keyLabel.toLower(), modifiers);
}

std::optional<QString> HotKeyCombo::refusal() const {
    if ((carbonModifiers & (commandBit | optionBit | controlBit)) == 0) {
        return QStringLiteral("%1 needs Ctrl, Alt or Super.").arg(linuxDisplayString());
    }
    for (const PasteKeystroke keystroke :
         {PasteKeystroke::controlV, PasteKeystroke::controlShiftV, PasteKeystroke::shiftInsert}) {
        if (parseLinuxForm(PasteKeyTable::text(keystroke)) == *this) {
            return QStringLiteral("%1 is the keystroke Snipjar pastes with.").arg(linuxDisplayString());
        }
    }
    return std::nullopt;
}

quint32 HotKeyCombo::modifierBits(Qt::KeyboardModifiers modifiers) {
    quint32 bits = 0;
    if (modifiers & Qt::ControlModifier) {
        bits |= commandBit;
    }
    if (modifiers & Qt::AltModifier) {
        bits |= optionBit;
    }
    if (modifiers & Qt::ShiftModifier) {
        bits |= shiftBit;
    }
    if (modifiers & Qt::MetaModifier) {
        bits |= controlBit;
    }
    return bits;
}

} // namespace snipjar
