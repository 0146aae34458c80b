// The "Alarms" page of the Statistics bar: one line per alarm raised, with the time it was raised, the
// time it ended, the limit, the reading and where it came from.
#pragma once

#include "measure/alarm_actions.h"

#include <QTreeWidget>

#include <map>
#include <utility>

namespace calvora {

class AlarmList : public QTreeWidget {
    Q_OBJECT
public:
    enum Column { kRaised, kEnded, kAlarm, kReading, kSource, kColumns };

    explicit AlarmList(QWidget* parent = nullptr);

    // A raised alarm adds a line at the top; an alarm that ends fills in its line's end.
    void Add(const AlarmNotice& notice);

private:
    // The line of each alarm still raised, by source and side.
    std::map<std::pair<std::u16string, LimitSide>, QTreeWidgetItem*> open_;
};

} // namespace calvora
