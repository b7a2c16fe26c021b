// An offset field: typed into, stepped by its arrows, arrow keys and wheel, and held to the
// offset range. Values pass through OffsetOf/SetOffset only, so the field can become a finer
// (fractional) one without its users noticing.
#pragma once

#include <QKeyEvent>
#include <QLineEdit>
#include <QSpinBox>
#include <cmath>

#include "conversion/scale_file.h"

namespace velorna {

using OffsetValue = CentTable::value_type;
inline constexpr int kOffsetLimit = 100;

class OffsetSpinBox final : public QSpinBox {
 public:
  OffsetSpinBox(const QString& editId, QWidget* parent) : QSpinBox(parent) {
    setRange(-kOffsetLimit, kOffsetLimit);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setGroupSeparatorShown(false);
    lineEdit()->setObjectName(editId);
  }

 protected:
  // Enter ends the typing here; passed on, it would press the dialog's default button (Exit).
  void keyPressEvent(QKeyEvent* event) override {
    QSpinBox::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) event->accept();
  }
};

inline OffsetValue OffsetOf(const OffsetSpinBox& field) {
  return static_cast<OffsetValue>(field.value());
}

inline void SetOffset(OffsetSpinBox& field, OffsetValue value) {
  field.setValue(static_cast<int>(std::lround(value)));
}

}  // namespace velorna
