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

class OffsetSpinBox final : public QDoubleSpinBox {
 public:
  OffsetSpinBox(const QString& editId, QWidget* parent) : QDoubleSpinBox(parent) {
    setRange(-kOffsetLimit, kOffsetLimit);
    setDecimals(kOffsetDecimals);
    setSingleStep(1.0);
    // A point whatever the locale: offsets are written as the command line takes them.
    setLocale(QLocale::c());
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setGroupSeparatorShown(false);
    lineEdit()->setObjectName(editId);
  }

 protected:
  // Enter ends the typing here; passed on, it would press the dialog's default button (Exit).
  void keyPressEvent(QKeyEvent* event) override {
    QDoubleSpinBox::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) event->accept();
  }
};

inline OffsetValue OffsetOf(const OffsetSpinBox& field) {
  return field.value();
}

inline void SetOffset(OffsetSpinBox& field, OffsetValue value) {
  field.setValue(value);  // rounded to the field's 0.1 cent
}

}  // namespace velorna
