#pragma once
#include <QString>
#include <array>
#include <cstdint>

#include "framework/controls.h"
#include "framework/dialog.h"
#include "link/clock.h"
#include "link/exchange.h"
#include "link/frame.h"
#include "link/link_settings.h"
#include "link/mscomm.h"
#include "meter/registers.h"

// The main window, template 102. It holds all state of a run; its operations are defined beside the
// subsystem they belong to: the poll cycle and display in poll/, the configuration commands in
// commands/; its framing members over link/, layout, data exchange, initialisation and closing in ui/.
class CMonitorDlg : public fw::CDialog {
  Q_OBJECT

 public:
  static constexpr int kPollTimer = 1;
  static constexpr int kScanTimer = 2;

  // The serial device and the clock are the seams: QSerialPort and a real wait in the program, the
  // simulated meter and a virtual clock in tests.
  CMonitorDlg(qm::link::Transport& device, qm::link::Clock& clock, QWidget* parent = nullptr);
  ~CMonitorDlg() override;

  // ---- State of a run, in declaration order of the record ----
  int32_t m_nNextProbeAddr = 1;
  uint32_t m_nPollInterval = 700;
  uint32_t m_nShortWait = 200;
  uint32_t m_nLongWait = 400;
  bool m_bRun = false;
  qm::link::Parity m_nParity = qm::link::Parity::None;
  int32_t m_nBaud = 9600;
  int32_t m_nPort = 1;
  uint8_t m_byAccuracy = 0;
  fw::CComboBox m_cbUnit;       // 1113
  fw::CEdit m_edLeft;           // 1022
  fw::CEdit m_edRight;          // 1023
  fw::CComboBox m_cbAnalogSel;  // 1088
  fw::CButton m_btnRun;         // 1063
  qm::link::CMSComm m_comm;     // 1008
  uint8_t m_bySlaveAddr = 0;
  double m_dVoltLow = 0.0;
  double m_dCurrHigh = 0.0;
  double m_dCurrLow = 0.0;
  double m_dVoltHigh = 0.0;
  QString m_strAnalogSel;
  QString m_strRight;
  QString m_strLeft;
  QString m_strUnit;
  uint8_t m_byWiring = 0;
  uint8_t m_byAnalogSel = 0;
  uint8_t m_byInputMode = 0;
  int32_t m_nEnergyMul = 1;
  int32_t m_nPowerDir = 0;
  uint32_t m_nGoodSettings = 0;
  uint8_t m_bIdentified = 0;
  int32_t m_nPowerScale = 1;
  uint32_t m_nCT = 1;
  uint32_t m_nPT = 1;
  qm::link::ReceiveBuffer m_rx{};
  qm::link::RequestFrame m_frame{};
  std::array<uint8_t, qm::meter::kSettingsBytes> m_settings{};
  // Poll cycle bookkeeping beyond the record: the first analog value with the selection it was read
  // for (reused when only the second read succeeds), and the guard that keeps a tick out of a cycle
  // or probe that is still running.
  std::array<uint8_t, 2> m_analogFirst{};
  int m_analogFirstCode = -1;
  bool m_bTickRunning = false;
  // Set once a gateway's trouble was told; cleared by the next reply that comes through.
  bool m_bLinkTroubleTold = false;
  // Every frame in and out, in words, when the user asked for a trace ($QM7410_TRACE).
  qm::link::Trace* m_pTrace = nullptr;

  qm::link::Clock& m_clock;

  // The link settings as one value, as the port settings dialog gives and takes them.
  qm::link::LinkSettings GetLinkSettings() const { return {m_nParity, m_nBaud, m_nPort}; }
  void SetLinkSettings(const qm::link::LinkSettings& link);

  // ---- The exchange, over link/ (ui/monitor_link.cpp) ----
  // Whether an exchange tells the user what a gateway said: a gateway's exception or a gateway of
  // the other kind is told once (a box, like a lost adapter) until a reply comes through again;
  // the address scan, to which silence at most addresses is normal, tells nothing.
  enum class LinkTrouble { Tell, Quiet };
  // One exchange on this window's port, clock and buffers, with the fixed wait.
  qm::link::ExchangeResult Exchange(uint8_t address, uint8_t function, uint16_t reg, uint16_t word,
                                    uint32_t waitMs, qm::link::ReplyMode mode,
                                    LinkTrouble trouble = LinkTrouble::Tell);
  void SetTimingFromBaud();

  // ---- Poll cycle and display (poll/) ----
  void OnTimer(int id) override;
  void OnRunStop();
  void OnPollAddress();
  void RunPollCycle();
  void Identify();
  void ScanStep();
  void ProbeAddress(int32_t address);
  void ShowMeasurements(int16_t dataIndex);
  QString FormatAnalogSetting(uint8_t code, uint8_t firstHi, uint8_t firstLo, uint8_t secondHi,
                              uint8_t secondLo);

  // ---- Configuration commands (commands/) ----
  // The single-register write; true when the check found the echo (always false for none and drain).
  bool WriteSingleRegister(uint16_t reg, uint16_t value, uint32_t waitMs, qm::link::ReplyMode mode);
  // The same write, reporting how many reply bytes the drain or check read.
  qm::link::ExchangeResult WriteRegister(uint16_t reg, uint16_t value, uint32_t waitMs,
                                         qm::link::ReplyMode mode);
  void OnCommSet();
  void OnMeterSet();
  void OnChangeSlaveAddr();
  void OnEnergyReset();
  void OnPowerReverse();
  void OnChangePrecision();
  void OnFactoryInit();
  void OnInputMode();
  void OnDropdownAnalogSel();
  void OnSelchangeAnalogSel();
  void OnWriteAnalog();

  // ---- Window (ui/monitor_dlg.cpp) ----
  bool OnInitDialog() override;
  void DoDataExchange(fw::CDataExchange* pDX) override;
  void OnDestroy() override;  // stops the poll timer, then closes the port
  void SetStatusText(const QString& text);
};
