// Helpers of the GUI tests: finding controls by id, answering modal boxes, waiting.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

namespace velorna::test {

template <typename T>
T* Control(QWidget& dialog, int id) {
  return dialog.findChild<T*>(QString::number(id));
}

template <typename T>
T* Control(QWidget& dialog, const char* name) {
  return dialog.findChild<T*>(QString::fromUtf8(name));
}

template <typename Id>
void Click(QWidget& dialog, Id id) {
  QPushButton* button = Control<QPushButton>(dialog, id);
  QVERIFY(button != nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
}

// What is wrong with the dialog's layout: a control outside the dialog, squeezed below
// what its text needs, or overlapping another; empty when nothing is.
inline QString LayoutProblem(QWidget& dialog) {
  QApplication::processEvents();
  std::vector<QWidget*> controls;
  for (QWidget* w : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (w->isVisible()) controls.push_back(w);
  }
  for (size_t i = 0; i < controls.size(); ++i) {
    const QRect a = controls[i]->geometry();
    const QString name = controls[i]->objectName();
    if (!dialog.rect().contains(a)) return name + QStringLiteral(" lies outside");
    if (a.width() < controls[i]->minimumSizeHint().width())
      return name + QStringLiteral(" is squeezed");
    for (size_t j = i + 1; j < controls.size(); ++j) {
      if (a.intersects(controls[j]->geometry()))
        return name + QStringLiteral(" overlaps ") + controls[j]->objectName();
    }
  }
  return {};
}

// Watches for modal windows and answers them from the event loop (a click that opens a box
// may not return until the box is closed): message boxes are recorded and confirmed (a
// question answered with `answerYes`) once `ready` agrees, any other modal dialog goes to
// `other` when set, else is rejected.
class ModalAnswerer : public QObject {
 public:
  ModalAnswerer() {
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
    m_timer.start();
  }

  QStringList texts;
  bool answerYes = true;
  std::function<bool(QMessageBox&)> ready;  // false: leave the box up for now
  std::function<void(QDialog&)> other;

  QMessageBox* OpenBox() const {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == m_seen) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (ready && !ready(*box)) return;
      texts << box->text();
      if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
        (answerYes ? yes : box->button(QMessageBox::No))->click();
      } else {
        box->button(QMessageBox::Ok)->click();
      }
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      if (dialog->inherits("velorna::CVelornaDlg")) return;
      m_seen = dialog;
      if (other) {
        other(*dialog);
      } else {
        dialog->reject();
      }
      m_seen = nullptr;
    }
  }

  QTimer m_timer;
  QWidget* m_seen = nullptr;
};

}  // namespace velorna::test
