// The program's colours, shared by the main window and the settings dialog:
// grey panels, a darker grey for groups and the status strip, yellow frames
// and highlights.
#pragma once

#include <QColor>

namespace vela::palette {

inline const QColor Panel(102, 102, 102);       // the window's bar, the dialog's form
inline const QColor Group(85, 85, 85);          // the dialog's groups, the window's strip
inline const QColor Yellow(255, 255, 0);        // button frames, highlights, dialog text
inline const QColor Header(179, 179, 109);      // the dialog's group headers
inline const QColor DarkButton(68, 68, 68);     // the dialog's button faces
inline const QColor LightButton(204, 204, 204); // the window's button faces
inline const QColor Box(221, 221, 221);         // the dialog's drop-down lists
inline const QColor StripText(230, 230, 230);

} // namespace vela::palette
