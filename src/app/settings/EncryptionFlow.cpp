#include "app/settings/EncryptionFlow.h"

#include "app/settings/SettingsSection.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace snipjar {
namespace {

constexpr int wordColumns = 4;

// The words in numbered columns, read down each column, as they are written on paper.
QString wordTable(const QStringList& words) {
    const int rowCount = int((words.size() + wordColumns - 1) / wordColumns);
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"3\">");
    for (int row = 0; row < rowCount; ++row) {
        html += QStringLiteral("<tr>");
        for (int column = 0; column < wordColumns; ++column) {
            const int index = column * rowCount + row;
            if (index < words.size()) {
                html += QStringLiteral(
                            "<td align=\"right\"><font color=\"gray\">%1</font></td><td>%2&nbsp;&nbsp;</td>")
                            .arg(index + 1)
                            .arg(words[index].toHtmlEscaped());
            }
        }
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

} // namespace

EncryptionFlow::EncryptionFlow(QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(6);

    prompt = new QLabel(this);
    prompt->setObjectName(QStringLiteral("encryptionFlowPrompt"));
    prompt->setWordWrap(true);
    layout->addWidget(prompt);

    code = new QLabel(this);
    code->setObjectName(QStringLiteral("encryptionFlowCode"));
    QFont large = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    large.setPointSizeF(large.pointSizeF() * 1.8);
    large.setBold(true);
    code->setFont(large);
    code->setAlignment(Qt::AlignCenter);
    code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(code);

    words = new QLabel(this);
    words->setObjectName(QStringLiteral("encryptionFlowWords"));
    words->setTextFormat(Qt::RichText);
    words->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    words->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(words, 0, Qt::AlignHCenter);

    line = new QLineEdit(this);
    line->setObjectName(QStringLiteral("encryptionFlowLine"));
    layout->addWidget(line);

    phrase = new QPlainTextEdit(this);
    phrase->setObjectName(QStringLiteral("encryptionFlowPhrase"));
    phrase->setTabChangesFocus(true);
    phrase->setPlaceholderText(QStringLiteral("The 24 words, in order"));
    phrase->setFixedHeight(phrase->fontMetrics().lineSpacing() * 4 + 12);
    layout->addWidget(phrase);

    note = new QLabel(this);
    note->setObjectName(QStringLiteral("encryptionFlowNote"));
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    cancel = new QPushButton(this);
    cancel->setObjectName(QStringLiteral("encryptionFlowCancel"));
    buttons->addWidget(cancel);
    accept = new QPushButton(this);
    accept->setObjectName(QStringLiteral("encryptionFlowAccept"));
    accept->setDefault(true);
    buttons->addWidget(accept);
    layout->addLayout(buttons);

    connect(accept, &QPushButton::clicked, this, &EncryptionFlow::accepted);
    connect(cancel, &QPushButton::clicked, this, &EncryptionFlow::cancelled);
    connect(line, &QLineEdit::returnPressed, this, [this] {
        if (accept->isVisible() && accept->isEnabled()) {
            emit accepted();
        }
    });
    hide();
}

void EncryptionFlow::start(const Step& step) {
    input = step.input;
    prompt->setText(step.prompt);
    prompt->setVisible(!step.prompt.isEmpty());
    code->setText(step.code);
    code->setVisible(!step.code.isEmpty());
    currentWords = step.words;
    words->setText(wordTable(step.words));
    words->setVisible(!step.words.isEmpty());
    line->clear();
    const bool secret = step.input == Input::password || step.input == Input::passphrase;
    line->setEchoMode(secret ? QLineEdit::Password : QLineEdit::Normal);
    line->setPlaceholderText(step.input == Input::password ? QStringLiteral("Account password")
                             : step.input == Input::passphrase
                                 ? QStringLiteral("Key file passphrase")
                                 : QStringLiteral("Code shown on the other computer"));
    line->setVisible(secret || step.input == Input::code);
    phrase->clear();
    phrase->setVisible(step.input == Input::phrase);
    note->clear();
    note->hide();
    accept->setText(step.accept);
    accept->setVisible(!step.accept.isEmpty());
    cancel->setText(step.cancel);
    cancel->setVisible(!step.cancel.isEmpty());
    setBusy(false);
    show();
    if (line->isVisible()) {
        line->setFocus();
    } else if (phrase->isVisible()) {
        phrase->setFocus();
    }
}

void EncryptionFlow::finish() {
    line->clear();
    phrase->clear();
    currentWords.clear();
    words->clear();
    code->clear();
    note->clear();
    hide();
}

void EncryptionFlow::setNote(const QString& text, bool problem) {
    note->setText(text);
    note->setVisible(!text.isEmpty());
    QPalette palette = note->palette();
    palette.setColor(QPalette::WindowText,
                     problem ? QColor(0xc0, 0x1c, 0x28) : this->palette().color(QPalette::WindowText));
    note->setPalette(palette);
}

void EncryptionFlow::setBusy(bool busy) {
    accept->setEnabled(!busy);
    line->setEnabled(!busy);
    phrase->setEnabled(!busy);
}

QString EncryptionFlow::inputText() const {
    return input == Input::phrase ? phrase->toPlainText() : line->text();
}

} // namespace snipjar
