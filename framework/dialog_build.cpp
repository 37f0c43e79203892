// Building a dialog's controls from its template.
#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "framework/app.h"
#include "framework/dialog.h"
#include "framework/dialog_units.h"
#include "framework/widget_text.h"

namespace qm::framework {

namespace {

constexpr const char* kIdProperty = "fwId";
constexpr const char* kGroupProperty = "fwGroup";

// An auto radio button the Windows way: a click checks it (never unchecks it) and unchecks the other
// radio buttons of its template group.
// Q_OBJECT gives it a class name of its own, so assistive technology gets RadioAccessible for it.
class FwRadioButton : public QRadioButton {
  Q_OBJECT

 public:
  using QRadioButton::QRadioButton;

 protected:
  void nextCheckState() override {
    setChecked(true);
    const QVariant group = property(kGroupProperty);
    for (QObject* sibling : parent()->children()) {
      auto* other = dynamic_cast<FwRadioButton*>(sibling);
      if (other != nullptr && other != this && other->property(kGroupProperty) == group) {
        other->setChecked(false);
      }
    }
  }
};

// Qt's own interface offers a radio button's action as toggle(), which neither sends the click
// the dialog's handlers wait for nor unchecks the rest of the group (and unchecks a checked one).
// Here the action is a click, as the mouse and the space bar give it.
class RadioAccessible : public QAccessibleWidget {
 public:
  explicit RadioAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::RadioButton) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) return button()->text();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = true;
    s.checked = button()->isChecked();
    return s;
  }
  QStringList actionNames() const override {
    return QStringList{toggleAction(), pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == toggleAction() || action == pressAction()) {
      button()->click();  // nothing when disabled
    } else {
      QAccessibleWidget::doAction(action);
    }
  }
  QStringList keyBindingsForAction(const QString& action) const override {
    if (action == toggleAction() || action == pressAction()) return {QStringLiteral("space")};
    return QAccessibleWidget::keyBindingsForAction(action);
  }

 private:
  QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* RadioAccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String(FwRadioButton::staticMetaObject.className())) {
    if (auto* radio = qobject_cast<FwRadioButton*>(object)) return new RadioAccessible(radio);
  }
  return nullptr;
}

}  // namespace

// A combo box that tells its dialog when its list is about to open, like CBN_DROPDOWN.
class FwComboBox : public QComboBox {
 public:
  FwComboBox(CDialog* dlg, int id) : QComboBox(dlg), dlg_(dlg), id_(id) {}
  void showPopup() override {
    dlg_->Dispatch(id_, Notify::DropDown);
    QComboBox::showPopup();
  }

 private:
  CDialog* dlg_;
  int id_;
};

// ---- Building ----

void CDialog::BuildControls() {
  const QFont font = TemplateFont(tpl_.fontFace, tpl_.pointSize);
  setFont(font);
  const BaseUnits units = BaseUnitsFor(font);

  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (tpl_.systemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (tpl_.minimizeBox) flags |= Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint;
  setWindowFlags(flags);
  setFixedSize(DluToPixels(units, 0, 0, tpl_.w, tpl_.h).size());
  setSizeGripEnabled(false);
  // No accessible name of its own: assistive technology reads the title, also once it changes.
  setWindowTitle(QString::fromStdString(tpl_.caption));

  QPalette pal = palette();
  if (DialogBackground().isValid()) {
    pal.setColor(QPalette::Window, DialogBackground());
    pal.setColor(QPalette::Button, DialogBackground());
    setAutoFillBackground(true);
  }
  if (DialogText().isValid()) {
    pal.setColor(QPalette::WindowText, DialogText());
    pal.setColor(QPalette::Text, DialogText());
    pal.setColor(QPalette::ButtonText, DialogText());
  }
  setPalette(pal);

  // Windows: a closed drop-down combo box is 13/8 of the font height tall; the template's height
  // includes the dropped list.
  const int comboHeight = 13 * units.cy / 8;
  int group = 0;
  std::vector<QWidget*> tabStops;
  std::vector<QGroupBox*> groupBoxes;
  std::vector<QWidget*> namedCombos;

  for (const ControlTemplate& c : tpl_.controls) {
    const QString text = QString::fromStdString(c.text);
    QRect rect = DluToPixels(units, c.x, c.y, c.w, c.h);
    if (c.style & kGroup) ++group;
    QWidget* w = nullptr;
    switch (c.kind) {
      case Kind::PushButton:
      case Kind::DefPushButton: {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        b->setDefault(c.kind == Kind::DefPushButton);
        const int id = c.id;
        connect(b, &QPushButton::clicked, this, [this, id] { Dispatch(id, Notify::Clicked); });
        w = b;
        break;
      }
      case Kind::AutoRadio: {
        static const bool factoryInstalled = [] {
          QAccessible::installFactory(RadioAccessibleFactory);
          return true;
        }();
        (void)factoryInstalled;
        auto* r = new FwRadioButton(text, this);
        r->setAutoExclusive(false);
        r->setProperty(kGroupProperty, group);
        const int id = c.id;
        connect(r, &QRadioButton::clicked, this, [this, id] { Dispatch(id, Notify::Clicked); });
        w = r;
        break;
      }
      case Kind::GroupBox: {
        auto* g = new QGroupBox(text, this);
        g->setAlignment((c.style & kCenter) ? Qt::AlignHCenter : Qt::AlignLeft);
        groupBoxes.push_back(g);
        w = g;
        break;
      }
      case Kind::Static: {
        auto* l = new QLabel(this);
        l->setTextFormat(Qt::PlainText);
        l->setText(text);
        l->setAlignment(((c.style & kCenter) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        if (c.style & (kStaticEdge | kBorder)) l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        w = l;
        break;
      }
      case Kind::Edit: {
        const bool framed = (c.style & (kBorder | kStaticEdge)) != 0;
        if (c.style & kMultiline) {
          auto* e = new QPlainTextEdit(this);
          e->setFrameShape(framed ? QFrame::StyledPanel : QFrame::NoFrame);
          e->setReadOnly((c.style & kReadOnly) != 0);
          e->setVerticalScrollBarPolicy((c.style & kVScroll) ? Qt::ScrollBarAsNeeded
                                                             : Qt::ScrollBarAlwaysOff);
          e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
          e->setLineWrapMode((c.style & kAutoHScroll) ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
          e->document()->setDocumentMargin(1);
          e->setTabChangesFocus(true);
          if (c.style & kReadOnly) {
            // A read-only edit takes the dialog's colour, as Windows paints it.
            QPalette ep = e->palette();
            ep.setColor(QPalette::Base, pal.color(QPalette::Window));
            e->setPalette(ep);
          }
          if (!text.isEmpty()) detail::SetWidgetText(e, text);
          w = e;
        } else {
          auto* e = new QLineEdit(this);
          e->setFrame(framed);
          e->setReadOnly((c.style & kReadOnly) != 0);
          if (!text.isEmpty()) detail::SetWidgetText(e, text);
          w = e;
        }
        break;
      }
      case Kind::ComboBox: {
        auto* cb = new FwComboBox(this, c.id);
        if (c.style & kDropDown) {
          cb->setEditable(true);
          cb->setInsertPolicy(QComboBox::NoInsert);
          // Windows neither completes typed text nor picks an item when the edit field loses focus.
          cb->setCompleter(nullptr);
          QObject::disconnect(cb->lineEdit(), &QLineEdit::editingFinished, cb, nullptr);
        }
        for (const ComboItems& items : tpl_.comboItems) {
          if (items.id != c.id) continue;
          for (const std::string& item : items.items) cb->addItem(QString::fromStdString(item));
        }
        // A new combo box has no selection and an empty edit field.
        cb->setCurrentIndex(-1);
        if (cb->isEditable()) cb->setEditText(QString());
        const int listHeight = rect.height() - comboHeight;
        const int itemHeight = std::max(1, QFontMetrics(font).height());
        cb->setMaxVisibleItems(std::max(1, listHeight / itemHeight));
        rect.setHeight(std::min(rect.height(), comboHeight));
        const int id = c.id;
        connect(cb, &QComboBox::activated, this, [this, id](int) { Dispatch(id, Notify::SelChange); });
        w = cb;
        break;
      }
    }

    w->setFont(font);
    w->setGeometry(rect);
    if (c.id != IDC_STATIC) {
      w->setProperty(kIdProperty, c.id);
      w->setObjectName(QStringLiteral("id%1").arg(c.id));
      w->setAccessibleDescription(QString::number(c.id));
      items_[c.id] = w;
    }
    // A control with a text is read by it as it changes; a name set here would hide every change.
    if (!c.name.empty()) {
      w->setAccessibleName(QString::fromStdString(c.name));
      if (c.kind == Kind::ComboBox) namedCombos.push_back(w);
    }

    // Only tab stops take the focus from the keyboard; edits and buttons still take it on a click.
    if (c.style & kTabStop) {
      w->setFocusPolicy(Qt::StrongFocus);
      tabStops.push_back(w);
    } else if (c.kind == Kind::Static || c.kind == Kind::GroupBox) {
      w->setFocusPolicy(Qt::NoFocus);
    } else {
      w->setFocusPolicy(Qt::ClickFocus);
    }
    if (auto* cb = qobject_cast<QComboBox*>(w); cb != nullptr && cb->lineEdit() != nullptr) {
      cb->lineEdit()->setFocusPolicy(w->focusPolicy());
    }
    if (c.style & kDisabled) w->setEnabled(false);
    if (c.style & kHidden) w->setHidden(true);
  }

  // On Linux assistive technology reads a list's selected item as its name and what the list is for
  // from its label: the static text that reads as its name, else a hidden label made for it.
  for (QWidget* combo : namedCombos) {
    QLabel* label = nullptr;
    for (QObject* child : children()) {
      auto* l = qobject_cast<QLabel*>(child);
      if (l != nullptr && l->buddy() == nullptr && l->text() == combo->accessibleName()) {
        label = l;
        break;
      }
    }
    if (label == nullptr) {
      label = new QLabel(combo->accessibleName(), this);
      label->setHidden(true);
    }
    label->setBuddy(combo);
  }

  for (size_t i = 1; i < tabStops.size(); ++i) QWidget::setTabOrder(tabStops[i - 1], tabStops[i]);
  // Group boxes are frames drawn behind the controls they hold.
  for (QGroupBox* g : groupBoxes) g->lower();
}

}  // namespace qm::framework

#include "dialog_build.moc"
