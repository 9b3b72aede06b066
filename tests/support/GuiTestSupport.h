#pragma once

#include <QLocale>
#include <QString>

class QWidget;

namespace tarn::test {

// Registers the shipped fonts (once) and installs the shipped texts for `locale`, as the application
// does at start-up.
void useShippedResources(const QLocale& locale = QLocale(QLocale::English, QLocale::UnitedStates));

// The pointer entering and leaving a widget, as the window system reports it.
void sendHoverEnter(QWidget& widget);
void sendHoverLeave(QWidget& widget);

// Shows a top-level widget and waits (on the event loop, briefly) until it is the active window, so
// that keyboard focus and Tab work as for a person.
bool showActive(QWidget& window);

} // namespace tarn::test
