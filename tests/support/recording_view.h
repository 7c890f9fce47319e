// A TCopyFormView that draws nothing and records everything: caption, label
// and meter changes and message boxes, in order. Its modal loop runs at once
// on the calling thread, so tests can drive a whole update run in-process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/copy_form_view.h"

namespace update {

class TRecordingView : public platform::TCopyFormView {
public:
  enum class TEventKind {
    Caption,
    GroupCaption,
    PackageText,
    FileText,
    Meter1,
    Meter2,
    RepaintGroup,
    Message,
    ArmTimer,
    DisarmTimer,
    Close
  };

  struct TEvent {
    TEventKind Kind;
    std::string Text;        // captions, labels, message box body
    std::string Caption;     // message box caption
    std::uint32_t Value = 0; // meter position, box style, timer interval
  };

  struct TMessage {
    std::string Text;
    std::string Caption;
    std::uint32_t Style = 0;
  };

  std::vector<TEvent> Events;
  int ActivateCalls = 0;
  int TimerFires = 0;
  bool Closed = false;
  bool TimerArmed = false;
  // Reports activation again after every message box, as a real window does
  // when a box closes and the dialog becomes active again.
  bool ReactivateAfterMessage = false;
  // The loop gives up after this many timer events (a timer that nobody
  // disarms would otherwise fire for ever).
  int TimerFireLimit = 5;
  int MessageAnswer = 1; // IdOk

  // Run on every event, after it has been recorded.
  std::function<void(const TEvent &)> OnEvent;

  void SetCaption(std::string_view text) override { Record(TEventKind::Caption, text); }
  void SetGroupCaption(std::string_view text) override { Record(TEventKind::GroupCaption, text); }
  void SetPackageText(std::string_view text) override { Record(TEventKind::PackageText, text); }
  void SetFileText(std::string_view text) override { Record(TEventKind::FileText, text); }
  void SetMeter1(int position) override;
  void SetMeter2(int position) override;
  void RepaintGroup() override { Record(TEventKind::RepaintGroup, {}); }
  void ProcessMessages() override {}
  int ShowMessage(std::string_view text, std::string_view caption, std::uint32_t style) override;
  platform::THandle Handle() const override { return 0x4711; }
  void RunModal(std::function<void()> onActivate, std::function<void()> onTimer) override;
  void ArmTimer(unsigned milliseconds) override;
  void DisarmTimer() override;
  void PostClose() override;

  // Queries on the record.
  std::vector<TMessage> Messages() const;
  std::vector<std::string> Texts(TEventKind kind) const;
  std::vector<std::uint32_t> Values(TEventKind kind) const;
  // The last text of `kind`, empty when there was none.
  std::string LastText(TEventKind kind) const;

private:
  void Record(TEventKind kind, std::string_view text, std::string_view caption = {},
              std::uint32_t value = 0);

  std::function<void()> Activate;
};

} // namespace update
