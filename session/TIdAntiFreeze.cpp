#include "session/TIdAntiFreeze.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <vector>

#include "net/tcp_client.h"

namespace brevan {
namespace {
std::vector<const TIdAntiFreeze*>& Live() {
  static std::vector<const TIdAntiFreeze*> live;
  return live;
}

void ServiceEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }
}  // namespace

TIdAntiFreeze::TIdAntiFreeze(QObject* parent) : QObject(parent) {
  Live().push_back(this);
  TIdTCPConnection::SetServiceCallback(&ServiceEvents);
}

TIdAntiFreeze::~TIdAntiFreeze() {
  auto& live = Live();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  // Every instance services the same way, so the callback stays while any is left.
  if (live.empty()) TIdTCPConnection::SetServiceCallback(nullptr);
}

bool TIdAntiFreeze::InForce() const { return !Live().empty() && Live().back() == this; }

}  // namespace brevan
