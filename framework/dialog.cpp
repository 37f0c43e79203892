#include "framework/dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <exception>

#include "framework/app.h"
#include "framework/dialog_units.h"
#include "framework/widget_text.h"

// Who may run when
//
// The invariant: one handler of a dialog runs at a time, and what the user or a timer asks for
// meanwhile waits until it has ended, in the order it came, commands before ticks. The only
// exception is what the running handler itself does: a command its own code sends to the dialog
// (opening a list) and OnInitDialog/OnDestroy of windows it makes or ends run at once, nested.
//
// The members that carry it (dialog.h, "Who may run when"):
// - handlerDepth_ counts this dialog's handlers on the stack; g_busyDepth counts handlers and message
//   boxes of every dialog. busyDepthAtStart_ is g_busyDepth when the dialog was made, so a dialog
//   opened modally inside a handler is not held by the handler that opened it.
// - outermostHandlerLoopLevel_ is the event loop level the outermost handler started at. A command
//   that arrives at a deeper level comes from inside a wait's loop (an exchange, a message box, a
//   nested dialog): it is held. At the same level it is the handler's own and runs nested.
// - heldCommands_ (arrival order) and heldTicks_ (at most one per timer) hold what waits;
//   commandReplayScheduled_ and tickFlushScheduled_ say that a turn of the event loop is already
//   booked to run the next one; lettingInputInBeforeTick_ is set while FlushHeldTicks handles the
//   events pending before a tick, so that a flush booked meanwhile does not run inside it.
//
// The states and who may run in each:
// - Idle: nothing held, no handler. A command runs at once; a tick runs at once (DeliverTimer) or
//   from the next turn of the event loop (a real timer).
// - In a handler (handlerDepth_ > 0): commands from a wait's loop and every tick are held; the
//   handler's own commands run nested. Ticks are held whenever g_busyDepth is above
//   busyDepthAtStart_ (TicksHeld()): while any handler or message box runs, other than those that
//   already ran when this dialog was made.
// - Replaying commands (heldCommands_ not empty, no handler): one held command per turn of the event
//   loop (ReplayHeldCommand); a new command joins the queue, ticks wait. The end of each handler
//   books the next turn.
// - Flushing ticks (only ticks held): one tick per turn (FlushHeldTicks), after the events already
//   pending, so a click on stop is handled before another cycle starts.
// - Ended or destroyed: nothing more runs; DestroyWindow drops what is held.

namespace qm::framework {

namespace {

// Handlers and message boxes running right now, over all dialogs (see above).
int g_busyDepth = 0;
std::set<CDialog*> g_dialogs;
std::function<int(CDialog&)> g_modalHook;
std::function<int(const QString&)> g_messageBoxHook;
bool g_manualTimers = false;

}  // namespace

CDialog::CDialog(const DialogTemplate& tpl, QWidget* parent) : QDialog(parent), tpl_(tpl) {
  g_dialogs.insert(this);
}

CDialog::~CDialog() {
  g_dialogs.erase(this);
  for (auto& [id, timer] : timers_) {
    if (timer.qtimer != nullptr) timer.qtimer->stop();
  }
  if (AfxGetApp() != nullptr && AfxGetApp()->m_pMainWnd == this) AfxGetApp()->m_pMainWnd = nullptr;
}

void CDialog::Create() {
  if (created_) return;
  if (!inModalRun_) busyDepthAtStart_ = g_busyDepth;
  BuildControls();
  created_ = true;
  bool setFocus = true;
  RunHandler([this, &setFocus] { setFocus = OnInitDialog(); });
  if (setFocus && !destroyed_) SetInitialFocus();
}

void CDialog::SetInitialFocus() {
  for (const ControlTemplate& c : tpl_.controls) {
    if (!(c.style & kTabStop) || c.id == IDC_STATIC) continue;
    QWidget* w = GetDlgItem(c.id);
    if (w == nullptr || w->isHidden() || !w->isEnabled()) continue;
    w->setFocus(Qt::TabFocusReason);
    if (auto* line = qobject_cast<QLineEdit*>(w)) line->selectAll();
    return;
  }
}

// ---- Modal run and ending ----

int CDialog::DoModal() {
  inModalRun_ = true;
  busyDepthAtStart_ = g_busyDepth;
  Create();
  if (!ended_ && !destroyed_) {
    if (g_modalHook) {
      const auto hook = g_modalHook;  // the hook may replace itself
      const int r = hook(*this);
      result_ = r;
      ended_ = true;
    } else {
      inExec_ = true;
      QDialog::exec();
      inExec_ = false;
    }
  }
  inModalRun_ = false;
  DestroyWindow();
  return result_;
}

void CDialog::EndDialog(int result) {
  result_ = result;
  ended_ = true;
  if (inExec_) {
    QDialog::done(result);
  } else if (!inModalRun_ && handlerDepth_ == 0) {
    DestroyWindow();
  }
}

void CDialog::DestroyWindow() {
  if (!created_ || destroyed_) return;
  destroyed_ = true;
  RunHandler([this] { OnDestroy(); });
  for (auto& [id, timer] : timers_) {
    if (timer.qtimer != nullptr) {
      timer.qtimer->stop();
      timer.qtimer->deleteLater();
    }
  }
  timers_.clear();
  heldTicks_.clear();
  heldCommands_.clear();
  if (inExec_) {
    QDialog::done(result_);
  } else {
    hide();
  }
  if (AfxGetApp() != nullptr && AfxGetApp()->m_pMainWnd == this) AfxGetApp()->m_pMainWnd = nullptr;
}

void CDialog::done(int result) { EndDialog(result); }
void CDialog::reject() { Dispatch(IDCANCEL, Notify::Clicked); }
void CDialog::accept() { Dispatch(IDOK, Notify::Clicked); }

void CDialog::closeEvent(QCloseEvent* event) {
  // The close box gives the cancel command; the window goes only when the dialog ends.
  event->ignore();
  Dispatch(IDCANCEL, Notify::Clicked);
}

void CDialog::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  if (mods == Qt::NoModifier) {
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        event->accept();
        PressEnter();
        return;
      case Qt::Key_Escape:
        event->accept();
        PressEscape();
        return;
      default:
        break;
    }
  }
  QDialog::keyPressEvent(event);
}

void CDialog::PressEnter() {
  if (!created_ || destroyed_) return;
  // A focused push button is the default button for the moment.
  QWidget* focus = focusWidget();
  if (auto* combo = qobject_cast<QComboBox*>(focus); combo == nullptr && focus != nullptr) {
    if (auto* parentCombo = qobject_cast<QComboBox*>(focus->parentWidget())) focus = parentCombo;
  }
  if (auto* button = qobject_cast<QPushButton*>(focus); button != nullptr && button->parentWidget() == this) {
    if (button->isEnabled() && !button->isHidden()) button->click();
    return;
  }
  const int id = DefaultId();
  QWidget* w = GetDlgItem(id);
  if (w != nullptr && !w->isEnabled()) return;
  Dispatch(id, Notify::Clicked);
}

void CDialog::PressEscape() {
  if (!created_ || destroyed_) return;
  Dispatch(IDCANCEL, Notify::Clicked);
}

int CDialog::DefaultId() const {
  for (const ControlTemplate& c : tpl_.controls) {
    if (c.kind == Kind::DefPushButton && c.id != IDC_STATIC) return c.id;
  }
  return IDOK;
}

// ---- Handlers ----

void CDialog::Dispatch(int id, Notify code) {
  if (!created_ || destroyed_ || ended_) return;
  // Input events wait in the window system's queue during the program's waits, but an
  // accessibility action, a queued signal or a timer's click is delivered inside the wait's event
  // loop (or a message box's, or a nested dialog's): held here, it runs after the handler as the
  // input does, and never nested in an exchange. A command the handler's own code sends (opening a
  // list, say) is part of it and runs at once, as a sent message does on Windows.
  const bool fromInsideAWait =
      InHandler() && QThread::currentThread()->loopLevel() > outermostHandlerLoopLevel_;
  if (fromInsideAWait || (!InHandler() && !heldCommands_.empty())) {
    heldCommands_.emplace_back(id, code);
    if (!InHandler()) ScheduleReplay();
    return;
  }
  RunCommand(id, code);
}

void CDialog::RunCommand(int id, Notify code) {
  RunHandler([this, id, code] {
    const auto it = map_.find({id, code});
    if (it != map_.end()) {
      const std::function<void()> handler = it->second;
      handler();
      return;
    }
    if (code != Notify::Clicked) return;
    if (id == IDOK) OnOK();
    if (id == IDCANCEL) OnCancel();
  });
}

void CDialog::RunHandler(const std::function<void()>& fn) {
  if (handlerDepth_ == 0) outermostHandlerLoopLevel_ = QThread::currentThread()->loopLevel();
  ++handlerDepth_;
  ++g_busyDepth;
  // Leaves the handler even when the error box itself throws (a test hook).
  struct Leave {
    CDialog* self;
    ~Leave() {
      --self->handlerDepth_;
      EndBusy();
    }
  };
  {
    Leave leave{this};
    try {
      fn();
    } catch (const DataExchangeFailed&) {
      // Already reported by the exchange, which also put the focus on the control.
    } catch (const std::exception& e) {
      AfxMessageBox(QString::fromUtf8(e.what()));
    } catch (...) {
      AfxMessageBox(QStringLiteral("发生未知错误，操作已中止。"));
    }
  }
  if (handlerDepth_ > 0) return;
  if (ended_ && !destroyed_ && !inModalRun_) DestroyWindow();
  if (!heldCommands_.empty()) ScheduleReplay();
}

void CDialog::ScheduleReplay() {
  if (commandReplayScheduled_) return;
  commandReplayScheduled_ = true;
  QTimer::singleShot(0, this, [this] { ReplayHeldCommand(); });
}

// One held command per turn of the event loop, as the input held meanwhile arrives; the end of its
// handler schedules the next.
void CDialog::ReplayHeldCommand() {
  commandReplayScheduled_ = false;
  if (InHandler() || heldCommands_.empty()) return;  // a running handler schedules it when it ends
  if (!created_ || destroyed_ || ended_) {
    heldCommands_.clear();
    return;
  }
  const auto [id, code] = heldCommands_.front();
  heldCommands_.pop_front();
  RunCommand(id, code);
}

bool CDialog::TicksHeld() const { return g_busyDepth > busyDepthAtStart_; }

void CDialog::EndBusy() {
  --g_busyDepth;
  for (CDialog* d : g_dialogs) {
    if (!d->heldTicks_.empty() && !d->TicksHeld()) d->ScheduleFlush();
  }
}

void CDialog::ScheduleFlush() {
  if (tickFlushScheduled_) return;
  tickFlushScheduled_ = true;
  QTimer::singleShot(0, this, [this] { FlushHeldTicks(); });
}

// One held tick per turn of the event loop, so other messages are handled between ticks that
// keep falling due while the previous one runs; the end of that handler schedules the next turn.
void CDialog::FlushHeldTicks() {
  tickFlushScheduled_ = false;
  // Held commands go first; the end of their handlers schedules this again.
  if (lettingInputInBeforeTick_ || heldTicks_.empty() || destroyed_ || TicksHeld() || !heldCommands_.empty())
    return;
  // Timer messages come last, as on Windows: input held back during the last handler (a click on
  // stop or exit) is handled before the next tick starts another cycle. Without this, cycles that
  // last longer than their period would keep the window deaf to the user.
  if (!g_manualTimers) {
    const QPointer<CDialog> self(this);
    lettingInputInBeforeTick_ = true;
    QCoreApplication::processEvents();
    if (!self) return;
    lettingInputInBeforeTick_ = false;
    if (heldTicks_.empty() || destroyed_ || TicksHeld() || !heldCommands_.empty()) return;
  }
  const int id = *heldTicks_.begin();
  heldTicks_.erase(heldTicks_.begin());
  if (timers_.count(id) != 0) {
    RunHandler([this, id] { OnTimer(id); });
  } else if (!heldTicks_.empty()) {
    ScheduleFlush();
  }
}

// ---- Timers ----

void CDialog::SetTimer(int id, unsigned intervalMs) {
  if (destroyed_) return;
  Timer& t = timers_[id];
  t.interval = intervalMs;
  heldTicks_.erase(id);  // a reset timer starts its period afresh
  if (g_manualTimers) return;
  if (t.qtimer == nullptr) {
    t.qtimer = new QTimer(this);
    t.qtimer->setTimerType(Qt::PreciseTimer);
    // The tick is only recorded here and run from the event loop: Qt does not fire a timer again
    // while its own timeout slot is still running, so a cycle longer than the period run inside the
    // slot would lose the tick that fell due meanwhile and halve the rate.
    connect(t.qtimer, &QTimer::timeout, this, [this, id] {
      if (destroyed_ || timers_.count(id) == 0) return;
      heldTicks_.insert(id);
      if (!TicksHeld()) ScheduleFlush();
    });
  }
  // Windows raises periods below 10 ms to 10 ms.
  const unsigned period = std::clamp(intervalMs, 10u, static_cast<unsigned>(INT_MAX));
  t.qtimer->start(static_cast<int>(period));
}

void CDialog::KillTimer(int id) {
  const auto it = timers_.find(id);
  if (it != timers_.end()) {
    if (it->second.qtimer != nullptr) {
      it->second.qtimer->stop();
      it->second.qtimer->deleteLater();
    }
    timers_.erase(it);
  }
  heldTicks_.erase(id);
}

bool CDialog::IsTimerRunning(int id) const { return timers_.count(id) != 0; }

unsigned CDialog::TimerInterval(int id) const {
  const auto it = timers_.find(id);
  return it == timers_.end() ? 0 : it->second.interval;
}

void CDialog::TimerFired(int id) {
  if (destroyed_ || timers_.count(id) == 0) return;
  if (TicksHeld() || !heldCommands_.empty()) {
    heldTicks_.insert(id);
    return;
  }
  RunHandler([this, id] { OnTimer(id); });
}

void CDialog::DeliverTimer(int id) { TimerFired(id); }

void CDialog::OnTimer(int) {}

// ---- Default handlers and data exchange ----

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  try {
    DoDataExchange(&dx);
  } catch (const DataExchangeFailed&) {
    return false;
  }
  return true;
}

// ---- Controls ----

QWidget* CDialog::GetDlgItem(int id) const {
  const auto it = items_.find(id);
  return it == items_.end() ? nullptr : it->second;
}

void CDialog::SetAccessibleName(int id, const QString& name) {
  if (QWidget* w = GetDlgItem(id)) w->setAccessibleName(name);
}

void CDialog::SetDlgItemText(int id, const QString& text) { detail::SetWidgetText(GetDlgItem(id), text); }

QString CDialog::GetDlgItemText(int id) const { return detail::WidgetText(GetDlgItem(id)); }

void CDialog::CheckRadioButton(int first, int last, int check) {
  for (int id = first; id <= last; ++id) {
    if (auto* b = qobject_cast<QAbstractButton*>(GetDlgItem(id))) b->setChecked(id == check);
  }
}

bool CDialog::IsDlgButtonChecked(int id) const {
  const auto* b = qobject_cast<const QAbstractButton*>(GetDlgItem(id));
  return b != nullptr && b->isChecked();
}

// ---- Simulated input ----

void CDialog::Click(int id) {
  if (!created_ || destroyed_) return;
  QWidget* w = GetDlgItem(id);
  if (w == nullptr) {
    Dispatch(id, Notify::Clicked);
    return;
  }
  auto* b = qobject_cast<QAbstractButton*>(w);
  if (b == nullptr || !b->isEnabled() || b->isHidden()) return;
  b->click();
}

void CDialog::SelectComboItem(int id, int index) {
  auto* cb = qobject_cast<QComboBox*>(GetDlgItem(id));
  if (cb == nullptr || !cb->isEnabled() || cb->isHidden() || index < 0 || index >= cb->count()) return;
  cb->hidePopup();
  cb->setCurrentIndex(index);
  if (cb->isEditable()) cb->setEditText(cb->itemText(index));
  Dispatch(id, Notify::SelChange);
}

void CDialog::DropDownCombo(int id) {
  auto* cb = qobject_cast<QComboBox*>(GetDlgItem(id));
  if (cb == nullptr || !cb->isEnabled() || cb->isHidden()) return;
  cb->showPopup();
}

// ---- Hooks and message boxes ----

void CDialog::SetModalHook(std::function<int(CDialog&)> hook) { g_modalHook = std::move(hook); }

void CDialog::SetManualTimers(bool manual) { g_manualTimers = manual; }

void SetMessageBoxHook(std::function<int(const QString&)> hook) { g_messageBoxHook = std::move(hook); }

int AfxMessageBox(const QString& text) {
  // Ticks stay held while a box is open, whoever opened it.
  ++g_busyDepth;
  struct Leave {
    ~Leave() { CDialog::EndBusy(); }
  } leave;
  if (g_messageBoxHook) {
    const auto hook = g_messageBoxHook;
    return hook(text);
  }
  QWidget* parent = QApplication::activeModalWidget();
  if (parent == nullptr) parent = QApplication::activeWindow();
  QMessageBox box(QMessageBox::NoIcon, AfxAppName(), text, QMessageBox::Ok, parent);
  box.setFont(TemplateFont("宋体", 10));
  box.exec();
  return IDOK;
}

}  // namespace qm::framework
