#include "gui/untGroupWidgets.h"

#include <QLabel>
#include <QLineEdit>

namespace vela {

QLabel* GroupCaption(QWidget* Parent, int Left, int Top, const QString& Text) {
  auto* Result = new QLabel(Text, Parent);
  Result->move(Left, Top);
  Result->adjustSize();
  return Result;
}

QLineEdit* GroupEditBox(QWidget* Parent, const QRect& Geometry) {
  auto* Result = new QLineEdit(Parent);
  QPalette Palette = Result->palette();
  Palette.setColor(QPalette::Text, Qt::black);
  Result->setPalette(Palette);
  Result->setGeometry(Geometry);
  return Result;
}

} // namespace vela
