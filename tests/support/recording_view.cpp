// The recording view: every call becomes an event; the modal loop activates
// once and then fires the timer while it stays armed, until PostClose.
#include "tests/support/recording_view.h"

namespace update {

void TRecordingView::Record(TEventKind kind, std::string_view text, std::string_view caption,
                            std::uint32_t value) {
  Events.push_back(TEvent{kind, std::string(text), std::string(caption), value});
  if (OnEvent)
    OnEvent(Events.back());
}

void TRecordingView::SetMeter1(int position) {
  Record(TEventKind::Meter1, {}, {}, static_cast<std::uint32_t>(position));
}

void TRecordingView::SetMeter2(int position) {
  Record(TEventKind::Meter2, {}, {}, static_cast<std::uint32_t>(position));
}

void TRecordingView::ProcessMessages() {
  ++ProcessMessagesCalls;
  if (OnProcessMessages)
    OnProcessMessages();
}

int TRecordingView::ShowMessage(std::string_view text, std::string_view caption,
                                std::uint32_t style) {
  Record(TEventKind::Message, text, caption, style);
  if (ReactivateAfterMessage && Activate) {
    ++ActivateCalls;
    Activate();
  }
  return MessageAnswer;
}

void TRecordingView::RunModal(std::function<void()> onActivate, std::function<void()> onTimer) {
  Closed = false;
  Activate = onActivate;
  ++ActivateCalls;
  if (onActivate)
    onActivate();
  while (!Closed && TimerArmed && TimerFires < TimerFireLimit) {
    ++TimerFires;
    if (onTimer)
      onTimer();
  }
  Activate = nullptr;
}

void TRecordingView::ArmTimer(unsigned milliseconds) {
  TimerArmed = true;
  Record(TEventKind::ArmTimer, {}, {}, milliseconds);
}

void TRecordingView::DisarmTimer() {
  TimerArmed = false;
  Record(TEventKind::DisarmTimer, {});
}

void TRecordingView::PostClose() {
  Closed = true;
  Record(TEventKind::Close, {});
}

std::vector<TRecordingView::TMessage> TRecordingView::Messages() const {
  std::vector<TMessage> out;
  for (const auto &e : Events)
    if (e.Kind == TEventKind::Message)
      out.push_back(TMessage{e.Text, e.Caption, e.Value});
  return out;
}

std::vector<std::string> TRecordingView::Texts(TEventKind kind) const {
  std::vector<std::string> out;
  for (const auto &e : Events)
    if (e.Kind == kind)
      out.push_back(e.Text);
  return out;
}

std::vector<std::uint32_t> TRecordingView::Values(TEventKind kind) const {
  std::vector<std::uint32_t> out;
  for (const auto &e : Events)
    if (e.Kind == kind)
      out.push_back(e.Value);
  return out;
}

std::string TRecordingView::LastText(TEventKind kind) const {
  for (auto it = Events.rbegin(); it != Events.rend(); ++it)
    if (it->Kind == kind)
      return it->Text;
  return {};
}

} // namespace update
