#pragma once
// The session bus as korvi uses it. korvi starts at login, when the bus may be slow, and a bus
// that accepts connections but never speaks would hold every D-Bus user in the process for
// good: Qt's own (accessibility looks at the bus when the first box shows) as well as korvi's.
// So the bus first gets a greeting that korvi sends without waiting, and nothing in the process
// connects to it until it has answered.

#include <QDBusConnection>
#include <QString>
#include <functional>

class QObject;

namespace platform::qt::session_bus {

// Sends the greeting: the first thing korvi does, so that the answer is in by the time
// anything looks for it.
void Greet();
// Once the application object exists, before any window: waits a moment at most for the
// answer. A bus that has not answered by then is hidden from Qt's own users for this run.
void Settle();
// Runs `use` with korvi's connection to the session bus once the bus has answered (at once if
// it has), while `context` lives; never if it does not answer.
void WhenAnswered(QObject* context, std::function<void(QDBusConnection)> use);
// The bus has answered: WhenAnswered runs `use` at once.
bool Answered();
// There is no bus to answer: none is set, or its socket refused korvi.
bool Absent();
// A further connection of its own, named `name`, to the bus that answered.
QDBusConnection Connect(const QString& name);

}  // namespace platform::qt::session_bus
