// The plain controls the settings dialog's lower groups (sharing, contacts,
// the web logbook's API) are built from: a caption sized to its text and a
// text box with black text on the group's background.
#pragma once

#include <QString>

class QLabel;
class QLineEdit;
class QRect;
class QWidget;

namespace vela {

QLabel* GroupCaption(QWidget* Parent, int Left, int Top, const QString& Text);
QLineEdit* GroupEditBox(QWidget* Parent, const QRect& Geometry);

} // namespace vela
