// The measurement boxes: 33 texts from the 41-word block.
#include <span>

#include "poll/measurements.h"
#include "ui/measurement_boxes.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::ShowMeasurements(int16_t dataIndex) {
  // A slave address typed meanwhile takes effect from the next request on; a rejected entry shows
  // the layer's message and the decode goes on all the same.
  UpdateData(true);
  constexpr size_t kSize = qm::meter::kMeasurementBytes;
  if (dataIndex < 0 || static_cast<size_t>(dataIndex) + kSize > m_rx.size()) return;

  const qm::poll::Scaling scaling{m_nPT, m_nCT, m_nPowerScale, m_nEnergyMul};
  const std::span<const uint8_t, kSize> data(m_rx.data() + dataIndex, kSize);
  for (const auto& [boxId, text] : qm::ui::FormatMeasurements(data, scaling))
    SetDlgItemText(boxId, QString::fromStdString(text));
}
