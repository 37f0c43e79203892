#include "tests/support/layout_check.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTextDocument>

#include "framework/dialog.h"

namespace layout {

namespace {

QString Kind(const QWidget* w) {
  if (qobject_cast<const QPushButton*>(w)) return "button";
  if (qobject_cast<const QRadioButton*>(w)) return "radio button";
  if (qobject_cast<const QCheckBox*>(w)) return "check box";
  if (qobject_cast<const QGroupBox*>(w)) return "group box";
  if (qobject_cast<const QLabel*>(w)) return "static";
  if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w)) return "edit";
  if (qobject_cast<const QComboBox*>(w)) return "combo box";
  return w->metaObject()->className();
}

QString Caption(const QWidget* w) {
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  return {};
}

QString Describe(const QWidget* w) {
  QString out = Kind(w);
  if (!w->accessibleDescription().isEmpty()) out += " " + w->accessibleDescription();
  const QString caption = Caption(w);
  if (!caption.isEmpty()) out += " \"" + caption + "\"";
  const QRect r = w->geometry();
  out += QStringLiteral(" at %1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
  return out;
}

// Room the control's own drawing takes beside its caption.
int HorizontalChrome(const QWidget* w) {
  const QStyle* style = w->style();
  if (qobject_cast<const QPushButton*>(w)) return 2 * 2;  // the 3D edge on either side
  if (qobject_cast<const QRadioButton*>(w)) {
    return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
           style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
  }
  if (qobject_cast<const QCheckBox*>(w)) {
    return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
           style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
  }
  if (qobject_cast<const QGroupBox*>(w)) return 2 * 8;  // the frame line reaching the title
  if (auto* l = qobject_cast<const QLabel*>(w)) return 2 * l->frameWidth();
  return 0;
}

void CheckCaption(const QWidget* w, std::vector<std::string>& out) {
  const QString caption = Caption(w);
  if (caption.isEmpty()) return;
  const QFontMetrics fm(w->font());
  int widest = 0;
  const QStringList lines = caption.split('\n');
  for (const QString& line : lines) widest = std::max(widest, fm.horizontalAdvance(line));
  const int needW = widest + HorizontalChrome(w);
  int needH = fm.height() * static_cast<int>(lines.size());
  if (auto* l = qobject_cast<const QLabel*>(w)) needH += 2 * l->frameWidth();
  if (needW > w->width()) {
    out.push_back(QStringLiteral("%1: caption needs %2 px of width, has %3")
                      .arg(Describe(w))
                      .arg(needW)
                      .arg(w->width())
                      .toStdString());
  }
  // A group box's title sits on its top line; only its height must leave room for the title.
  if (needH > w->height()) {
    out.push_back(QStringLiteral("%1: caption needs %2 px of height, has %3")
                      .arg(Describe(w))
                      .arg(needH)
                      .arg(w->height())
                      .toStdString());
  }
}

// A multi-line edit must show all its lines without scrolling.
void CheckMultiline(const QPlainTextEdit* e, std::vector<std::string>& out) {
  const QString text = e->toPlainText();
  if (text.isEmpty()) return;
  const QFontMetrics fm(e->font());
  const QRect area = e->viewport()->rect();
  const int margin = static_cast<int>(e->document()->documentMargin());
  const QRect box(0, 0, std::max(1, area.width() - 2 * margin), 100000);
  const int need = fm.boundingRect(box, Qt::TextWordWrap, text).height() + 2 * margin;
  if (need > area.height()) {
    out.push_back(QStringLiteral("%1: its %2 px of text do not fit in %3 px")
                      .arg(Describe(e))
                      .arg(need)
                      .arg(area.height())
                      .toStdString());
  }
}

// What a control covers on screen: a group box's frame line runs through the middle of its title.
QRect Covered(const QWidget* w) {
  QRect r = w->geometry();
  if (auto* g = qobject_cast<const QGroupBox*>(w); g != nullptr && !g->title().isEmpty()) {
    r.setTop(r.top() + QFontMetrics(g->font()).height() / 2);
  }
  return r;
}

bool Holds(const QWidget* outer, const QWidget* inner) {
  return qobject_cast<const QGroupBox*>(outer) != nullptr && outer->geometry().contains(inner->geometry());
}

}  // namespace

std::vector<std::string> Check(const fw::CDialog& dlg) {
  std::vector<std::string> out;
  std::vector<const QWidget*> shown;
  for (const QObject* child : dlg.children()) {
    const auto* w = qobject_cast<const QWidget*>(child);
    if (w == nullptr || w->isWindow() || !w->isVisibleTo(&dlg)) continue;
    shown.push_back(w);
  }

  const QRect client = dlg.rect();
  for (size_t i = 0; i < shown.size(); ++i) {
    const QWidget* a = shown[i];
    if (!client.contains(a->geometry())) {
      out.push_back(QStringLiteral("%1: reaches outside the window (%2x%3)")
                        .arg(Describe(a))
                        .arg(client.width())
                        .arg(client.height())
                        .toStdString());
    }
    for (size_t j = i + 1; j < shown.size(); ++j) {
      const QWidget* b = shown[j];
      if (!Covered(a).intersects(Covered(b))) continue;
      if (Holds(a, b) || Holds(b, a)) continue;
      out.push_back((Describe(a) + " overlaps " + Describe(b)).toStdString());
    }
    CheckCaption(a, out);
    if (auto* e = qobject_cast<const QPlainTextEdit*>(a)) CheckMultiline(e, out);
  }
  return out;
}

}  // namespace layout
