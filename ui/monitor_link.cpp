// The main window's exchange: the link's one request path on the window's own port, clock and
// buffers, with the fixed waits.
#include "link/modbus.h"
#include "ui/monitor_dlg.h"

qm::link::ExchangeResult CMonitorDlg::Exchange(uint8_t address, uint8_t function, uint16_t reg, uint16_t word,
                                               uint32_t waitMs, qm::link::ReplyMode mode,
                                               LinkTrouble trouble) {
  qm::link::Transport* transport = m_comm.Device();
  if (!transport) throw qm::link::CommError("串口控件未连接到任何设备");
  const qm::link::WindowBuffers buffers{m_frame, m_rx};
  qm::link::Timing timing = qm::link::Timing::Fixed(waitMs, mode);
  timing.echo = qm::link::EchoForPort(m_comm.GetCommPort());
  timing.trace = m_pTrace;
  qm::link::ExchangeResult r =
      qm::link::Exchange(*transport, m_clock, {address, function, reg, word}, timing, &buffers);
  if (r.Ok()) m_bLinkTroubleTold = false;
  if (trouble == LinkTrouble::Quiet || m_bLinkTroubleTold) return r;
  // What only a gateway says: the meter behind it is unreachable, or the gateway speaks the other
  // protocol. Told once, like a lost adapter; polling goes on quietly after it.
  std::string text;
  if (r.error == qm::link::LinkError::Exception && qm::link::IsGatewayException(r.exceptionCode))
    text = "网关 " + m_comm.DevicePath() + ": " +
           (r.exceptionCode == static_cast<uint8_t>(qm::link::ExceptionCode::GatewayPathUnavailable)
                ? "网关路径不可用"
                : "网关后的仪表没有响应") +
           " (Modbus 异常 " + std::to_string(r.exceptionCode) + ")";
  else if (!r.Ok() && r.otherKind)
    text = r.detail;
  if (text.empty()) return r;
  m_bLinkTroubleTold = true;
  throw qm::link::CommError(text);
}

void CMonitorDlg::SetTimingFromBaud() {
  const qm::link::TimingSet t = qm::link::TimingForBaud(m_nBaud);
  m_nPollInterval = t.pollInterval;
  m_nShortWait = t.shortWait;
  m_nLongWait = t.longWait;
}
