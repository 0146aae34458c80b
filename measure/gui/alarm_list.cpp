#include "measure/gui/alarm_list.h"

#include <QHeaderView>

namespace calvora {

AlarmList::AlarmList(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("AlarmList"));
    setColumnCount(kColumns);
    setHeaderLabels({QStringLiteral("Raised"), QStringLiteral("Ended"), QStringLiteral("Alarm"),
                     QStringLiteral("Reading"), QStringLiteral("Source")});
    setRootIsDecorated(false);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

void AlarmList::Add(const AlarmNotice& notice) {
    const auto key = std::make_pair(notice.source, notice.event.side);
    if (notice.event.kind == AlarmEvent::Kind::Ended) {
        const auto open = open_.find(key);
        if (open != open_.end()) {
            open->second->setText(kEnded, QString::fromStdU16String(notice.time));
            open_.erase(open);
        }
        return;
    }
    const QString reading = QString::fromStdU16String(
        notice.unit.empty() ? notice.valueText : notice.valueText + u" " + notice.unit);
    QString source = QString::fromStdU16String(notice.source);
    if (notice.sampleNumber > 0)
        source += QStringLiteral(", sample %1").arg(notice.sampleNumber);
    auto* item = new QTreeWidgetItem({QString::fromStdU16String(notice.time), QString(),
                                      QString::fromStdU16String(NoticeTitle(notice)), reading, source});
    insertTopLevelItem(0, item);
    open_[key] = item;
}

} // namespace calvora
