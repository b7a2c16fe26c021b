// An offset field: typed into to 0.1 cent, stepped a whole cent by its arrows, arrow keys and
// wheel, and held to the offset range. Values pass through OffsetOf/SetOffset only.
#pragma once

#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>

#include "conversion/scale_file.h"

namespace velorna {

using OffsetValue = CentTable::value_type;
inline constexpr int kOffsetLimit = 100;
inline constexpr int kOffsetDecimals = 1;

// A number field of the dialog, with a decimal point whatever the locale (written as the
// command line takes it).
class NumberField : public QDoubleSpinBox {
 public:
  NumberField(double lowest, double highest, int decimals, QWidget* parent)
      : QDoubleSpinBox(parent) {
    setRange(lowest, highest);
    setDecimals(decimals);
    setLocale(QLocale::c());
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setGroupSeparatorShown(false);
  }

 protected:
  // Enter ends the typing here; passed on, it would press the dialog's default button (Exit).
  void keyPressEvent(QKeyEvent* event) override {
    QDoubleSpinBox::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) event->accept();
  }
};

class OffsetSpinBox final : public NumberField {
 public:
  OffsetSpinBox(const QString& editId, QWidget* parent)
      : NumberField(-kOffsetLimit, kOffsetLimit, kOffsetDecimals, parent) {
    setSingleStep(1.0);
    lineEdit()->setObjectName(editId);
  }

  // A key the tuning leaves silent shows `text` instead of a value and takes no typing; an
  // empty text shows the value again.
  void SetUnmappedText(const QString& text) {
    m_unmappedText = text;
    setReadOnly(!text.isEmpty());
    lineEdit()->setText(textFromValue(value()));
  }
  bool IsUnmapped() const { return !m_unmappedText.isEmpty(); }

  QString textFromValue(double value) const override {
    return m_unmappedText.isEmpty() ? NumberField::textFromValue(value) : m_unmappedText;
  }

 private:
  QString m_unmappedText;
};

inline OffsetValue OffsetOf(const OffsetSpinBox& field) {
  return field.value();
}

inline void SetOffset(OffsetSpinBox& field, OffsetValue value) {
  field.setValue(value);  // rounded to the field's 0.1 cent
}

}  // namespace velorna
