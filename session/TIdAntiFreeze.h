#pragma once
// Keeps the windows serviced while a connection waits for its server: it
// installs the connection's service callback, which lets Qt process every
// pending event. The most recently created live one is in force; when it goes,
// the one before it takes over, and with none left the callback is removed.
#include <QObject>

namespace brevan {

class TIdAntiFreeze : public QObject {
  Q_OBJECT
 public:
  explicit TIdAntiFreeze(QObject* parent = nullptr);
  ~TIdAntiFreeze() override;

  // True when this one is the instance in force.
  bool InForce() const;
};

}  // namespace brevan
