#pragma once

#include "platform/GlobalHotKeys.h"

#include <QHash>
#include <QString>
#include <Qt>

#include <optional>

namespace snipjar {

// One system-wide key combination: a key from keyNameTable() and at least one modifier. Stored in
// the user settings as its displayString() (⌥⌘V); shown to people in Linux form (Ctrl+Alt+V). The
// modifier bits follow Qt's cross-platform convention: ⌘ is Ctrl, ⌥ is Alt, ⇧ is Shift, ⌃ is Super.
struct HotKeyCombo {
    static constexpr quint32 commandBit = GlobalHotKeys::commandBit;
    static constexpr quint32 shiftBit = GlobalHotKeys::shiftBit;
    static constexpr quint32 optionBit = GlobalHotKeys::optionBit;
    static constexpr quint32 controlBit = GlobalHotKeys::controlBit;
    static constexpr quint32 allModifierBits = commandBit | shiftBit | optionBit | controlBit;

    quint32 keyCode = 0;
    quint32 carbonModifiers = 0;
    QString keyLabel;

    bool operator==(const HotKeyCombo&) const = default;

    // ⌥⌘V.
    static HotKeyCombo defaultCombo();
    // The combination the hotKey setting names; the default one when it is not set or cannot be
    // read. What the shell registers, the settings show and the welcome window and tray name.
    static HotKeyCombo fromSettings();
    // The only keys a combination may use: lower-case name to virtual key code. Built once.
    static const QHash<QString, quint32>& keyNameTable();

    // The modifier symbols in the fixed order ⌃⌥⇧⌘, then the key label. This is the persisted form.
    QString displayString() const;
    // The combination as people on Linux write it: "Ctrl+Alt+V".
    QString linuxDisplayString() const;

    // Accepts the symbol form (⌥⌘V) and word forms ("cmd+option+v", "Alt Cmd V"); none when a token
    // is neither a modifier nor a key of the table, or when the key or every modifier is missing.
    // Its "ctrl" is ⌃, which is Super here: text that people write goes through parseLinuxForm().
    static std::optional<HotKeyCombo> parse(const QString& text);
    // The inverse of linuxDisplayString(), for what people type: "+"-separated, any case, the
    // modifiers Ctrl (or Control), Alt, Shift and Super (or Meta) and exactly one key of the table.
    static std::optional<HotKeyCombo> parseLinuxForm(const QString& text);
    // The hotKey setting: the stored symbol form (⌥⌘V) when the text is written in symbols, else
    // the Linux form of a hand-edited file ("Ctrl+Alt+V").
    static std::optional<HotKeyCombo> parseSetting(const QString& text);

    // A combination from a key press: the key as a Qt key code (Qt::Key_A, Qt::Key_7) or as its
    // label ("v", "7"), with the modifiers held. None without a modifier or for a key outside the
    // table. Keypad and group modifiers are ignored.
    static std::optional<HotKeyCombo> fromKeyPress(int qtKey, Qt::KeyboardModifiers modifiers);
    static std::optional<HotKeyCombo> fromKeyPress(const QString& keyLabel, Qt::KeyboardModifiers modifiers);

    // Why the combination cannot be the global hot key, in a sentence for the settings, or none. It
    // needs Ctrl, Alt or Super (with Shift alone a capital letter could no longer be typed), and
    // must not be a keystroke that Snipjar pastes with (its own grab would catch the paste).
    std::optional<QString> refusal() const;

    // The modifier bits for Qt's modifier flags.
    static quint32 modifierBits(Qt::KeyboardModifiers modifiers);
};

} // namespace snipjar
