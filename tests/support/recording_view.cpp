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

namespace {
// `get` of every event of `kind`, in order.
template <typename TGet>
auto Collect(const std::vector<TRecordingView::TEvent> &events, TRecordingView::TEventKind kind,
             TGet get) {
  std::vector<decltype(get(events.front()))> out;
  for (const auto &e : events)
    if (e.Kind == kind)
      out.push_back(get(e));
  return out;
}
} // namespace

std::vector<TRecordingView::TMessage> TRecordingView::Messages() const {
  return Collect(Events, TEventKind::Message, [](const TEvent &e) {
    return TMessage{e.Text, e.Caption, e.Value};
  });
}

std::vector<std::string> TRecordingView::Texts(TEventKind kind) const {
  return Collect(Events, kind, [](const TEvent &e) { return e.Text; });
}

std::vector<std::uint32_t> TRecordingView::Values(TEventKind kind) const {
  return Collect(Events, kind, [](const TEvent &e) { return e.Value; });
}

std::string TRecordingView::LastText(TEventKind kind) const {
  for (auto it = Events.rbegin(); it != Events.rend(); ++it)
    if (it->Kind == kind)
      return it->Text;
  return {};
}

} // namespace update
