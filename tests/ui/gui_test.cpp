// The program's dialogs on a real X server (Xvfb, started by the test's command): shown as the user
// sees them, checked for overlapping controls and clipped captions, and saved as screenshots under
// build/artifacts/.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTextDocument>

#include "tests/support/harness.h"
#include "ui/templates.h"

namespace {

// "QPushButton 1004 at 10,20 60x24": the class, the control id and where it is.
std::string Describe(const QWidget* w) {
  const QRect r = w->geometry();
  return QStringLiteral("%1 %2 at %3,%4 %5x%6")
      .arg(w->metaObject()->className(), w->accessibleDescription())
      .arg(r.x())
      .arg(r.y())
      .arg(r.width())
      .arg(r.height())
      .toStdString();
}

// The caption's faults: wider or taller than the control by its own font, with the room the control's
// own drawing takes beside it (a button's 3D edge, a radio button's indicator, the frame line reaching
// a group box's title, a label's frame). A group box's title sits on its top line.
void CheckCaption(const QWidget* w, std::vector<std::string>& out) {
  QString caption;
  int chrome = 0, frame = 0;
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) caption = b->text();
  if (qobject_cast<const QPushButton*>(w)) chrome = 2 * 2;
  if (qobject_cast<const QRadioButton*>(w))
    chrome = w->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
             w->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
  if (auto* g = qobject_cast<const QGroupBox*>(w)) caption = g->title(), chrome = 2 * 8;
  if (auto* l = qobject_cast<const QLabel*>(w))
    caption = l->text(), frame = l->frameWidth(), chrome = 2 * frame;
  if (caption.isEmpty()) return;
  const QFontMetrics fm(w->font());
  const QStringList lines = caption.split('\n');
  int widest = 0;
  for (const QString& line : lines) widest = std::max(widest, fm.horizontalAdvance(line));
  const int needW = widest + chrome, needH = fm.height() * static_cast<int>(lines.size()) + 2 * frame;
  const auto report = [&](const char* what, int need, int has) {
    if (need > has)
      out.push_back(Describe(w) + ": caption " + what + " needs " + std::to_string(need) + " px, has " +
                    std::to_string(has));
  };
  report("width", needW, w->width());
  report("height", needH, w->height());
}

// Layout faults of a shown dialog, one readable line each: controls outside the window or overlapping
// (a group box may hold the controls inside it; its frame line runs through the middle of its title),
// clipped captions, and a multi-line edit that cannot show all its lines without scrolling.
std::vector<std::string> LayoutFaults(const fw::CDialog& dlg) {
  std::vector<std::string> out;
  const auto covered = [](const QWidget* w) {
    auto* g = qobject_cast<const QGroupBox*>(w);
    const int title = g != nullptr && !g->title().isEmpty() ? QFontMetrics(g->font()).height() / 2 : 0;
    return w->geometry().adjusted(0, title, 0, 0);
  };
  const auto holds = [](const QWidget* outer, const QWidget* inner) {
    return qobject_cast<const QGroupBox*>(outer) != nullptr && outer->geometry().contains(inner->geometry());
  };
  std::vector<const QWidget*> shown;
  for (const QObject* child : dlg.children()) {
    const auto* w = qobject_cast<const QWidget*>(child);
    if (w != nullptr && !w->isWindow() && w->isVisibleTo(&dlg)) shown.push_back(w);
  }
  for (size_t i = 0; i < shown.size(); ++i) {
    const QWidget* a = shown[i];
    if (!dlg.rect().contains(a->geometry())) out.push_back(Describe(a) + ": outside the window");
    for (size_t j = i + 1; j < shown.size(); ++j) {
      const QWidget* b = shown[j];
      if (covered(a).intersects(covered(b)) && !holds(a, b) && !holds(b, a))
        out.push_back(Describe(a) + " overlaps " + Describe(b));
    }
    CheckCaption(a, out);
    auto* e = qobject_cast<const QPlainTextEdit*>(a);
    if (e == nullptr || e->toPlainText().isEmpty()) continue;
    const QRect area = e->viewport()->rect();
    const int margin = static_cast<int>(e->document()->documentMargin());
    const QRect box(0, 0, std::max(1, area.width() - 2 * margin), 100000);
    const int need = QFontMetrics(e->font()).boundingRect(box, Qt::TextWordWrap, e->toPlainText()).height();
    if (need + 2 * margin > area.height()) out.push_back(Describe(e) + ": text does not fit");
  }
  return out;
}

// Shows `dlg` on the X server, checks its layout and saves it as `<name>.png`.
void ShowCheckAndSave(fw::CDialog& dlg, const QString& name) {
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg, 30000)) << name.toStdString();
  for (const std::string& problem : LayoutFaults(dlg)) ADD_FAILURE() << name.toStdString() << ": " << problem;
  QDir().mkpath(QM_ARTIFACT_DIR);
  const QString file = QM_ARTIFACT_DIR "/" + name + ".png";
  EXPECT_TRUE(dlg.grab().save(file)) << file.toStdString();
}
TEST(OnX, DialogsLookRight) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  {
    qmtest::Harness h;
    h.dlg->SetDlgItemText(1061, "1");
    h.dlg->Click(1063);  // polling on, so the boxes hold values
    h.Tick(2);
    ShowCheckAndSave(*h.dlg, "main_window");
  }
  const std::pair<const fw::DialogTemplate*, const char*> dialogs[] = {
      {&qm::ui::CommSetTemplate(), "comm_set"},
      {&qm::ui::MeterSetTemplate(), "meter_set"},
      {&qm::ui::SlaveAddrTemplate(), "slave_addr"}};
  for (auto [tpl, name] : dialogs) {
    fw::CDialog dlg(*tpl);
    dlg.Create();
    ShowCheckAndSave(dlg, name);
    dlg.DestroyWindow();
  }
}

}  // namespace
