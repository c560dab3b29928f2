#pragma once

#include <QObject>

#include "core/ui_thread.h"

namespace sentrel {

// The window thread of the Qt shell: steps are posted to the thread that
// created this object through its event loop, so a modal box's local loop
// serves them too. The blocking hand-off and its give-up rule are those of
// CallOnUiThread; this class only queues.
class QtUiThread final : public UiThread {
 public:
  QtUiThread();
  ~QtUiThread() override;

  void Post(std::function<void()> task) override;
  bool IsUiThread() const override;

 private:
  QObject* receiver_;  // lives on the window thread; steps run in its context
};

}  // namespace sentrel
