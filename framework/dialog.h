#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>

#include "framework/controls.h"
#include "framework/data_exchange.h"
#include "framework/dialog_template.h"
#include "framework/fw.h"

class QTimer;

namespace qm::framework {

// Notifications a control sends to its dialog.
enum class Notify { Clicked, SelChange, DropDown };

// A dialog built from a template, with the operations the program's windows use: control lookup by
// id, message map, data exchange, window timers and modal runs.
//
// Handlers run one at a time. A handler that waits (an exchange) or shows a message box lets the
// window repaint, but nothing else of this dialog runs meanwhile: timer ticks that fall due are held
// back, at most one per timer, and commands (clicks, selections, drop-downs, OK, Cancel, the close
// box), whatever delivers them (input, an accessibility action, a programmatic click, a queued
// signal), are held in arrival order. After the outermost handler ends, the held commands run
// first, one per turn of the event loop, then the held ticks. Dialogs and message boxes opened by
// the running handler keep working normally. Commands the handler's own code sends to its dialog
// (ShowDropDown's notification) run at once, nested, as a sent message does on Windows. An
// exception escaping a handler is shown in an error box and ends that handler only.
//
// The message map: Clicked comes from push buttons and radio buttons; SelChange only when the user
// picks an item (never from SetCurSel); DropDown just before the list opens, also when code opens
// it. IDOK and IDCANCEL without an entry go to OnOK and OnCancel. Enter clicks a focused push
// button, else gives DefaultId(); Escape and the close box give IDCANCEL.
//
// Assistive technology reads a control's text and a dialog's title as their names, as they change;
// an edit without a text of its own takes its name from its template, a list its label, and every
// control has its id as the accessible description. A radio button's accessibility action is a
// click.
class CDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CDialog(const DialogTemplate& tpl, QWidget* parent = nullptr);
  ~CDialog() override;

  // Creates the window if needed, runs OnInitDialog and then the modal loop; IDOK or IDCANCEL.
  int DoModal();
  // Ends the dialog with `result`. In a modal run the loop ends once the running handler returns;
  // a window made with Create() alone is destroyed (OnDestroy) when the running handler ends, or at
  // once outside a handler.
  void EndDialog(int result);
  // Builds the controls and runs OnInitDialog without entering a modal loop (tests and DoModal).
  void Create();
  bool IsCreated() const { return created_; }
  bool IsEnded() const { return ended_; }
  int Result() const { return result_; }
  // Runs OnDestroy once and stops every timer. DoModal and EndDialog call it; a window made with
  // Create() that never ended must be given this call before it is deleted, because the destructor
  // can no longer reach the derived class's OnDestroy.
  void DestroyWindow();
  bool IsDestroyed() const { return destroyed_; }

  virtual bool OnInitDialog();  // base: data exchange in the loading direction
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual void OnOK();      // base: UpdateData(true), then EndDialog(IDOK) when valid
  virtual void OnCancel();  // base: EndDialog(IDCANCEL)
  virtual void OnTimer(int id);
  // Called when the window goes away (any path): the place to stop timers and close ports.
  virtual void OnDestroy() {}

  bool UpdateData(bool saveAndValidate = true);

  QWidget* GetDlgItem(int id) const;
  // Fixes the name assistive tools and GUI tests find the control by. For controls without a text
  // of their own: it replaces the text as the name for good.
  void SetAccessibleName(int id, const QString& name);
  // The command Enter gives when the focus is not on a push button: the default push button's id,
  // else IDOK.
  int DefaultId() const;
  void SetDlgItemText(int id, const QString& text);
  QString GetDlgItemText(int id) const;
  void CheckRadioButton(int first, int last, int check);
  bool IsDlgButtonChecked(int id) const;
  void SetWindowText(const QString& text) { setWindowTitle(text); }
  QString GetWindowText() const { return windowTitle(); }
  const DialogTemplate& Template() const { return tpl_; }

  // Window timers: at most one pending tick per timer; ticks never re-enter a running handler.
  // A tick that falls due while a handler runs (also while a message box, a nested modal dialog or a
  // wait's event loop is open inside it) is held and delivered from the event loop after the
  // outermost handler ends. SetTimer on a running id restarts it and drops a held tick, as does
  // KillTimer. The timers of a dialog opened modally inside a handler tick while its own loop is idle.
  void SetTimer(int id, unsigned intervalMs);
  void KillTimer(int id);
  bool IsTimerRunning(int id) const;
  unsigned TimerInterval(int id) const;

  // Runs `fn` as a message handler: serialised, error box on exception, held commands and ticks
  // after.
  void RunHandler(const std::function<void()>& fn);
  bool InHandler() const { return handlerDepth_ > 0; }

  // Test and automation entry points; they go through the same paths as real messages.
  // A tick of timer `id`, as if it fell due now: ignored unless the timer is set (a real tick needs
  // a running timer); held when a handler runs, else OnTimer runs before this returns. Held ticks
  // come from the event loop: process events to receive them.
  void DeliverTimer(int id);
  // A click on button `id`: ignored when the button is disabled or hidden (the user cannot reach
  // it); held when it comes during a handler's wait, like every command. Ids without a control
  // (IDOK, IDCANCEL on a window without such buttons) go straight to the command, as a keyboard
  // command would. Radio buttons check themselves first, like auto radios.
  void Click(int id);
  // The user picks item `index` of combo `id` (SelChange); ignored when the combo is disabled or
  // hidden or the index is outside the list.
  void SelectComboItem(int id, int index);
  void DropDownCombo(int id);  // the user opens the list of combo `id` (DropDown), same conditions
  // Enter and Escape as the keyboard gives them to the focused control.
  void PressEnter();
  void PressEscape();

  // When set, DoModal calls the hook (after OnInitDialog) instead of entering a modal loop; the hook
  // drives the dialog and returns its result.
  static void SetModalHook(std::function<int(CDialog&)> hook);
  // When set, timers are never armed on a real clock: tests deliver ticks with DeliverTimer.
  static void SetManualTimers(bool manual);

 protected:
  template <class T>
  void OnCommand(int id, Notify code, void (T::*handler)()) {
    map_[{id, code}] = [this, handler] { (static_cast<T*>(this)->*handler)(); };
  }

  void done(int result) override;
  void reject() override;
  void accept() override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  friend class FwComboBox;
  friend int AfxMessageBox(const QString& text);
  void BuildControls();
  // Runs the command's handler now, or holds it while a handler runs or earlier commands wait.
  void Dispatch(int id, Notify code);
  void RunCommand(int id, Notify code);
  void ScheduleReplay();
  void ReplayHeldCommand();
  void TimerFired(int id);
  void FlushHeldTicks();
  void ScheduleFlush();
  void SetInitialFocus();
  bool TicksHeld() const;
  static void EndBusy();

  DialogTemplate tpl_;
  bool created_ = false;
  int result_ = IDCANCEL;
  bool ended_ = false;
  std::map<int, QWidget*> items_;
  std::map<std::pair<int, Notify>, std::function<void()>> map_;
  struct Timer {
    unsigned interval = 0;
    QTimer* qtimer = nullptr;
  };
  std::map<int, Timer> timers_;
  bool destroyed_ = false;
  bool inModalRun_ = false;  // DoModal is running: it destroys the window itself
  bool inExec_ = false;      // inside QDialog::exec

  // Who may run when: the rules are at the top of dialog.cpp.
  int handlerDepth_ = 0;               // this dialog's handlers running, nested ones included
  int outermostHandlerLoopLevel_ = 0;  // the event loop level the outermost handler started at
  int busyDepthAtStart_ = 0;           // handlers and boxes already running when this dialog was made
  std::deque<std::pair<int, Notify>> heldCommands_;  // arrival order
  std::set<int> heldTicks_;                          // at most one per timer
  bool commandReplayScheduled_ = false;              // a turn of the event loop runs the first held command
  bool tickFlushScheduled_ = false;                  // a turn of the event loop runs a held tick
  bool lettingInputInBeforeTick_ = false;            // FlushHeldTicks processes pending events first
};

// Modal message box: the application name as caption, one OK button, no icon. Returns IDOK.
int AfxMessageBox(const QString& text);
// Tests capture message boxes instead of showing them; the hook returns the button pressed.
void SetMessageBoxHook(std::function<int(const QString&)> hook);

}  // namespace qm::framework
