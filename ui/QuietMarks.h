// The result grid with a mark after a host's name while its alerts are held: "muted until
// 21:00", "muted" (until unmuted), "flapping". The marks follow the mutes' ends by themselves.
#pragma once

#include <QIdentityProxyModel>
#include <QString>
#include <ctime>
#include <functional>

#include "core/AlertGate.h"

// The mark of a host, empty for none; until is when its mute ends (0: until lifted).
QString quietMark(const QuietState& state, std::time_t until, std::time_t now);

class QuietRowsModel : public QIdentityProxyModel {
    Q_OBJECT
  public:
    // mark(row): the mark of the host of that row now.
    QuietRowsModel(QAbstractItemModel* rows, std::function<QString(int)> mark, QObject* parent);

    QVariant data(const QModelIndex& index, int role) const override;
    // The mutes changed: every mark is read again.
    void refresh();

  private:
    std::function<QString(int)> mark_;
};
