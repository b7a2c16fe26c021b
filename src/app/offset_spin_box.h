// An offset field: steps by its arrows, arrow keys and wheel, but cannot be typed into.
// Only the line edit is read-only; a read-only spin box would disable its arrows too.
#pragma once

#include <QLineEdit>
#include <QSpinBox>

namespace velorna {

class OffsetSpinBox final : public QSpinBox {
 public:
  OffsetSpinBox(const QString& editId, QWidget* parent) : QSpinBox(parent) {
    setRange(-100, 100);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setGroupSeparatorShown(false);
    lineEdit()->setReadOnly(true);
    lineEdit()->setObjectName(editId);
  }
};

}  // namespace velorna
