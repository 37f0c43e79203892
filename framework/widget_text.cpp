#include "framework/widget_text.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyle>
#include <QVariant>

namespace qm::framework::detail {

namespace {
constexpr const char* kExactText = "fwExactText";
constexpr const char* kShownText = "fwShownText";

// Whether `text` fits into the box without scrolling, with room to spare for the frame and the
// margins the style adds (a text judged too wide only costs a cursor move).
bool FitsIn(const QLineEdit* line, const QString& text) {
  const int frame =
      line->hasFrame() ? line->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, line) : 0;
  const QMargins margins = line->textMargins();
  const int room = line->contentsRect().width() - margins.left() - margins.right() - 2 * frame - 8;
  return line->fontMetrics().horizontalAdvance(text) <= room;
}
}  // namespace

void SetWidgetText(QWidget* widget, const QString& text) {
  // A text the control already shows stays as it is: the poll cycle sets its boxes every second,
  // many to what they show already (the settings, the analog row, a steady load), and each change
  // costs a repaint and, with assistive technology listening, messages on the accessibility bus.
  if (widget == nullptr || WidgetText(widget) == text) return;
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    line->setText(text);
    // Windows shows the start of a text that is wider than its box. A text that fits shows the
    // same wherever the cursor is: left at the end, where setText puts it, a new value of the same
    // length moves no cursor, and assistive technology is sent no caret messages for it.
    if (!FitsIn(line, text)) line->setCursorPosition(0);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) {
    plain->setPlainText(text);
    // The widget turns "\r\n" into one break; remember what was given so reading it back is exact.
    plain->setProperty(kExactText, text);
    plain->setProperty(kShownText, plain->toPlainText());
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(text);
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    // Only a combo box with an edit field has a text of its own.
    if (combo->isEditable()) combo->setEditText(text);
  }
}

QString WidgetText(const QWidget* widget) {
  if (widget == nullptr) return {};
  if (auto* line = qobject_cast<const QLineEdit*>(widget)) return line->text();
  if (auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) {
    const QString shown = plain->toPlainText();
    const QVariant exact = plain->property(kExactText);
    if (exact.isValid() && plain->property(kShownText).toString() == shown) return exact.toString();
    QString text = shown;
    text.replace(QChar('\n'), QStringLiteral("\r\n"));
    return text;
  }
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* group = qobject_cast<const QGroupBox*>(widget)) return group->title();
  if (auto* combo = qobject_cast<const QComboBox*>(widget)) return combo->currentText();
  return {};
}

}  // namespace qm::framework::detail
