#include "framework/data_exchange.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "framework/controls.h"
#include "framework/dialog.h"

namespace qm::framework {

namespace {

const QString kByteMessage = QStringLiteral("请输入一个介于 0 和 255 之间的整数。");
const QString kIntMessage = QStringLiteral("请输入一个整数。");
const QString kUIntMessage = QStringLiteral("请输入一个正整数。");
const QString kRealMessage = QStringLiteral("请输入一个数字。");

QString RangeMessage(qint64 min, qint64 max) {
  return QStringLiteral("请输入一个介于 %1 和 %2 之间的整数。").arg(min).arg(max);
}

// The control an exchange step works on; a template without it is a programming error.
QWidget* PrepareCtrl(CDataExchange* pDX, int id) {
  pDX->m_idLastControl = id;
  QWidget* w = pDX->m_pDlgWnd->GetDlgItem(id);
  if (w == nullptr) {
    throw std::logic_error(QStringLiteral("对话框 %1 中没有控件 %2")
                               .arg(pDX->m_pDlgWnd->Template().resourceId)
                               .arg(id)
                               .toStdString());
  }
  return w;
}

// Blanks around a number are allowed, as Windows allows them.
QString Stripped(const QString& text) { return text.trimmed(); }

// The whole text (blanks around it allowed) is a decimal integer with an optional sign; a minus only
// where `allowMinus`. A value too large for any range we check reads as one that fails the check.
bool ParseInteger(const QString& raw, bool allowMinus, long long& out) {
  const std::string text = Stripped(raw).toStdString();
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    if (negative && !allowMinus) return false;
    ++i;
  }
  // from_chars would take a second sign itself.
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  long long value = 0;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(text.data() + i, last, value);
  if (end != last) return false;
  if (ec == std::errc::result_out_of_range) value = 1LL << 40;
  out = negative ? -value : value;
  return true;
}

// The whole text (blanks around it allowed) is a finite decimal number with an optional sign.
bool ParseReal(const QString& raw, double& out) {
  std::string text = Stripped(raw).toStdString();
  if (!text.empty() && text[0] == '+') {
    text.erase(0, 1);
    if (!text.empty() && text[0] == '-') return false;  // one sign at most: "+-5" is no number
  }
  if (text.empty() || text[0] == '+') return false;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

QString ControlText(CDataExchange* pDX, int id) {
  PrepareCtrl(pDX, id);
  return pDX->m_pDlgWnd->GetDlgItemText(id);
}

void SetControlText(CDataExchange* pDX, int id, const QString& text) {
  PrepareCtrl(pDX, id);
  pDX->m_pDlgWnd->SetDlgItemText(id, text);
}

}  // namespace

void CDataExchange::Fail(const QString& message) {
  AfxMessageBox(message);
  if (m_bSaveAndValidate && m_idLastControl != 0) {
    if (QWidget* w = m_pDlgWnd->GetDlgItem(m_idLastControl)) {
      // Back to the offending field with its text selected, ready to be typed over.
      w->setFocus(Qt::OtherFocusReason);
      if (auto* line = qobject_cast<QLineEdit*>(w)) line->selectAll();
      if (auto* combo = qobject_cast<QComboBox*>(w); combo != nullptr && combo->lineEdit() != nullptr) {
        combo->lineEdit()->selectAll();
      }
      if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) plain->selectAll();
    }
  }
  throw DataExchangeFailed{};
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  QWidget* w = PrepareCtrl(pDX, id);
  if (control.Widget() == nullptr) control.Attach(w);
}

void DDX_Text(CDataExchange* pDX, int id, uint8_t& value) {
  if (!pDX->m_bSaveAndValidate) {
    SetControlText(pDX, id, QString::number(value));
    return;
  }
  long long v = 0;
  if (!ParseInteger(ControlText(pDX, id), false, v) || v > 255) pDX->Fail(kByteMessage);
  value = static_cast<uint8_t>(v);
}

void DDX_Text(CDataExchange* pDX, int id, int32_t& value) {
  if (!pDX->m_bSaveAndValidate) {
    SetControlText(pDX, id, QString::number(value));
    return;
  }
  long long v = 0;
  if (!ParseInteger(ControlText(pDX, id), true, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    pDX->Fail(kIntMessage);
  }
  value = static_cast<int32_t>(v);
}

void DDX_Text(CDataExchange* pDX, int id, uint32_t& value) {
  if (!pDX->m_bSaveAndValidate) {
    SetControlText(pDX, id, QString::number(value));
    return;
  }
  long long v = 0;
  if (!ParseInteger(ControlText(pDX, id), false, v) || v > std::numeric_limits<uint32_t>::max()) {
    pDX->Fail(kUIntMessage);
  }
  value = static_cast<uint32_t>(v);
}

void DDX_Text(CDataExchange* pDX, int id, double& value) {
  if (!pDX->m_bSaveAndValidate) {
    SetControlText(pDX, id, QString::number(value, 'g', 15));
    return;
  }
  double v = 0.0;
  if (!ParseReal(ControlText(pDX, id), v)) pDX->Fail(kRealMessage);
  value = v;
}

void DDX_Text(CDataExchange* pDX, int id, QString& value) {
  if (!pDX->m_bSaveAndValidate) {
    SetControlText(pDX, id, value);
    return;
  }
  value = ControlText(pDX, id);
}

void DDX_CBString(CDataExchange* pDX, int id, QString& value) {
  QWidget* w = PrepareCtrl(pDX, id);
  auto* combo = qobject_cast<QComboBox*>(w);
  if (pDX->m_bSaveAndValidate) {
    value = pDX->m_pDlgWnd->GetDlgItemText(id);
    return;
  }
  if (combo == nullptr) {
    pDX->m_pDlgWnd->SetDlgItemText(id, value);
    return;
  }
  // Loading selects the first item that starts with the text (as CB_SELECTSTRING does); without one
  // the text goes into the edit field. An empty text selects nothing.
  if (!value.isEmpty()) {
    for (int i = 0; i < combo->count(); ++i) {
      if (combo->itemText(i).startsWith(value, Qt::CaseInsensitive)) {
        combo->setCurrentIndex(i);
        if (combo->isEditable()) combo->setEditText(combo->itemText(i));
        return;
      }
    }
  }
  if (combo->isEditable()) combo->setEditText(value);
}

void DDV_MinMaxByte(CDataExchange* pDX, uint8_t value, uint8_t min, uint8_t max) {
  if (pDX->m_bSaveAndValidate && (value < min || value > max)) pDX->Fail(RangeMessage(min, max));
}

void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t min, uint32_t max) {
  if (pDX->m_bSaveAndValidate && (value < min || value > max)) pDX->Fail(RangeMessage(min, max));
}

void DDV_MinMaxInt(CDataExchange* pDX, int32_t value, int32_t min, int32_t max) {
  if (pDX->m_bSaveAndValidate && (value < min || value > max)) pDX->Fail(RangeMessage(min, max));
}

}  // namespace qm::framework
