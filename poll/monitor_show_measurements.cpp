// The measurement boxes: 33 texts from the 41-word block.
#include <span>

#include "poll/measurements.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::ShowMeasurements(int16_t dataIndex) {
  // A slave address typed meanwhile takes effect from the next request on; a rejected entry shows
  // the layer's message and the decode goes on all the same.
  UpdateData(true);
  if (dataIndex < 0 || dataIndex + qm::poll::kMeasurementBytes > qm::kReceiveSize) return;

  const qm::poll::Scaling scaling{m_nPT, m_nCT, m_nPowerScale, m_nEnergyMul};
  const std::span<const uint8_t, qm::poll::kMeasurementBytes> data(m_rx.data() + dataIndex,
                                                                   qm::poll::kMeasurementBytes);
  for (const auto& [boxId, text] : qm::poll::FormatMeasurements(data, scaling))
    SetDlgItemText(boxId, QString::fromStdString(text));
}
