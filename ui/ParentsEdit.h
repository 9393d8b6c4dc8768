// "Depends on": the hosts of the document this host sits behind (a router, a switch), ticked
// in a list of the other hosts. A name that matches no host any more is kept, ticked, until it is unticked.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

class QListWidget;

class ParentsEdit : public QWidget {
    Q_OBJECT
  public:
    explicit ParentsEdit(QWidget* parent = nullptr);

    void show(const std::vector<std::string>& candidates, const std::vector<std::string>& chosen);
    // The ticked names, as their bytes, in the list's order.
    std::vector<std::string> chosen() const;

  private:
    QListWidget* list_;
};
