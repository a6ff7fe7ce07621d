#include "table_error.h"

#include <QMessageBox>
#include <QString>

namespace norvane::qt {

void ShowTableError(const TableError& error) {
  QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(error.title),
                  QString::fromStdU16String(error.message), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace norvane::qt
