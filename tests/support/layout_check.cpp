#include "tests/support/layout_check.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTextDocument>

#include "framework/dialog.h"

namespace layout {

namespace {

QString Caption(const QWidget* w) {
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  return {};
}

// "QPushButton 1004 "确定" at 10,20 60x24": the class, the control id and the caption, if any.
QString Describe(const QWidget* w) {
  QString out = w->metaObject()->className();
  if (!w->accessibleDescription().isEmpty()) out += " " + w->accessibleDescription();
  if (!Caption(w).isEmpty()) out += " \"" + Caption(w) + "\"";
  const QRect r = w->geometry();
  return out + QStringLiteral(" at %1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

void Report(std::vector<std::string>& out, const QWidget* w, const char* what, int need, int has) {
  out.push_back(
      QStringLiteral("%1: %2 needs %3 px, has %4").arg(Describe(w), what).arg(need).arg(has).toStdString());
}

// Room the control's own drawing takes beside its caption.
int HorizontalChrome(const QWidget* w) {
  if (qobject_cast<const QPushButton*>(w)) return 2 * 2;  // the 3D edge on either side
  if (qobject_cast<const QRadioButton*>(w)) {
    return w->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
           w->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
  }
  if (qobject_cast<const QGroupBox*>(w)) return 2 * 8;  // the frame line reaching the title
  if (auto* l = qobject_cast<const QLabel*>(w)) return 2 * l->frameWidth();
  return 0;
}

void CheckCaption(const QWidget* w, std::vector<std::string>& out) {
  const QString caption = Caption(w);
  if (caption.isEmpty()) return;
  const QStringList lines = caption.split('\n');
  const QFontMetrics fm(w->font());
  int widest = 0;
  for (const QString& line : lines) widest = std::max(widest, fm.horizontalAdvance(line));
  const int needW = widest + HorizontalChrome(w);
  int needH = fm.height() * static_cast<int>(lines.size());
  if (auto* l = qobject_cast<const QLabel*>(w)) needH += 2 * l->frameWidth();
  if (needW > w->width()) Report(out, w, "caption width", needW, w->width());
  // A group box's title sits on its top line; only its height must leave room for the title.
  if (needH > w->height()) Report(out, w, "caption height", needH, w->height());
}

// A multi-line edit must show all its lines without scrolling.
void CheckMultiline(const QPlainTextEdit* e, std::vector<std::string>& out) {
  if (e->toPlainText().isEmpty()) return;
  const QRect area = e->viewport()->rect();
  const int margin = static_cast<int>(e->document()->documentMargin());
  const QRect box(0, 0, std::max(1, area.width() - 2 * margin), 100000);
  const int need = QFontMetrics(e->font()).boundingRect(box, Qt::TextWordWrap, e->toPlainText()).height();
  if (need + 2 * margin > area.height()) Report(out, e, "text height", need + 2 * margin, area.height());
}

// What a control covers on screen: a group box's frame line runs through the middle of its title.
QRect Covered(const QWidget* w) {
  auto* g = qobject_cast<const QGroupBox*>(w);
  const int title = g != nullptr && !g->title().isEmpty() ? QFontMetrics(g->font()).height() / 2 : 0;
  return w->geometry().adjusted(0, title, 0, 0);
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
    if (w != nullptr && !w->isWindow() && w->isVisibleTo(&dlg)) shown.push_back(w);
  }
  for (size_t i = 0; i < shown.size(); ++i) {
    const QWidget* a = shown[i];
    if (!dlg.rect().contains(a->geometry()))
      out.push_back(Describe(a).toStdString() + ": outside the window");
    for (size_t j = i + 1; j < shown.size(); ++j) {
      const QWidget* b = shown[j];
      if (Covered(a).intersects(Covered(b)) && !Holds(a, b) && !Holds(b, a)) {
        out.push_back((Describe(a) + " overlaps " + Describe(b)).toStdString());
      }
    }
    CheckCaption(a, out);
    if (auto* e = qobject_cast<const QPlainTextEdit*>(a)) CheckMultiline(e, out);
  }
  return out;
}

}  // namespace layout
