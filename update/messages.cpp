// Result messages: placeholder expansion, the message box body and style, and
// the two messages that an update run ends with.
#include "update/messages.h"

#include "admin/run_result.h"
#include "platform/window.h"
#include "update/copy_form_view.h"
#include "util/text.h"

namespace update {

std::array<util::TShortString, SubstitutionCount> SubstitutionTexts;

namespace {

util::TShortString Cut(std::string_view text, std::size_t capacity) {
  return util::TShortString(text.substr(0, capacity));
}

// A substitution text that contains a placeholder could otherwise expand for
// ever; with empty texts a line needs at most 51 changing passes.
constexpr int MaxExpansionPasses = 256;

} // namespace

void TMessageRecord::Clear() {
  Title = util::TShortString();
  for (auto &line : Lines)
    line = util::TShortString();
}

void TMessageRecord::SetTitle(std::string_view text) {
  Title = Cut(text, MessageTitleCapacity);
}

void TMessageRecord::SetLine(int line, std::string_view text) {
  if (line < 1 || line > MessageLineCount)
    return;
  Lines[static_cast<std::size_t>(line - 1)] = Cut(text, MessageLineCapacity);
}

void SetSubstitutionText(int number, std::string_view text) {
  if (number < 1 || number > SubstitutionCount)
    return;
  SubstitutionTexts[static_cast<std::size_t>(number - 1)] = Cut(text, SubstitutionCapacity);
}

void ExpandPlaceholders(util::TShortString &line) {
  for (int pass = 0; pass < MaxExpansionPasses; ++pass) {
    bool changed = false;
    for (int n = 1; n <= SubstitutionCount; ++n) {
      const char pattern[] = {'/', '&', static_cast<char>('0' + n), '&', '\\'};
      std::string_view text = line.View();
      std::size_t p = text.find(std::string_view(pattern, sizeof pattern));
      if (p == std::string_view::npos)
        continue;
      util::TShortString expanded(text.substr(0, p));
      expanded.Append(SubstitutionTexts[static_cast<std::size_t>(n - 1)].View());
      expanded.Append(text.substr(p + sizeof pattern));
      line = expanded;
      changed = true;
    }
    if (!changed)
      return;
  }
}

std::string BuildMessageBody(const TMessageRecord &record) {
  std::string body;
  util::TShortString line = record.Lines[0];
  ExpandPlaceholders(line);
  body.append(line.View());
  for (std::size_t i = 1; i < record.Lines.size(); ++i) {
    line = record.Lines[i];
    ExpandPlaceholders(line);
    if (line.Empty())
      continue;
    body.append("\r\n");
    body.append(line.View());
  }
  if (body.size() > MessageBodyBufferSize - 1)
    body.resize(MessageBodyBufferSize - 1);
  return body;
}

std::uint32_t MessageStyle(std::uint8_t iconKind, std::uint8_t buttonKind) {
  std::uint32_t style = 0;
  switch (iconKind) {
  case 1:
    style = platform::MbIconExclamation;
    break;
  case 2:
    style = platform::MbIconInformation;
    break;
  case 3:
    style = platform::MbIconQuestion | platform::MbYesNo;
    break;
  case 4:
    style = platform::MbIconHand;
    break;
  default:
    style = platform::MbOk;
    break;
  }
  if (buttonKind == 2)
    style |= platform::MbDefButton2;
  return style;
}

int ShowMessageRecord(platform::THandle owner, std::uint8_t iconKind, std::uint8_t buttonKind,
                      const TMessageRecord &record) {
  std::string body = BuildMessageBody(record);
  platform::Beep(0);
  return platform::ShowMessageBox(owner, body, record.Title.View(),
                                  MessageStyle(iconKind, buttonKind));
}

int ShowMessageRecord(TCopyFormView &view, std::uint8_t iconKind, std::uint8_t buttonKind,
                      const TMessageRecord &record) {
  std::string body = BuildMessageBody(record);
  platform::Beep(0);
  return view.ShowMessage(body, record.Title.View(), MessageStyle(iconKind, buttonKind));
}

void BuildSuccessMessage(TMessageRecord &record) {
  record.Clear();
  record.SetTitle("Herzlichen Gl\xFC"
                  "ckwunsch . . .");
  record.SetLine(1, "Das angeforderte Update wurde erfolgreich");
  record.SetLine(2, " ");
  record.SetLine(3, "in das Programm eingearbeitet.");
}

void BuildFailureMessage(TMessageRecord &record, std::int32_t runResult) {
  record.Clear();
  record.SetTitle("Fehler!");
  record.SetLine(1, "Bei der Einarbeitung des Updates");
  util::TShortString code = util::TrimText(util::FormatNumber(10, 0, 0, runResult));
  util::TShortString line2("ist ein Fehler aufgetreten (");
  line2.Append(code.View()).Append(").");
  record.SetLine(2, line2.View());
  record.SetLine(3, " ");
  if (const admin::TRunResultInfo *info = admin::FindRunResult(runResult);
      info != nullptr && info->Reason != nullptr) {
    record.SetLine(4, info->Reason);
    record.SetLine(5, " ");
  }
  record.SetLine(6, "Bitte holen Sie das Update erneut ab.");
}

} // namespace update
