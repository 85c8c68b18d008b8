// Why a scripted run stopped, told by the message box a dialog refused an
// action with: a test dialog that will not show its Test page or start
// says so in a message box and stays where it was, and the run then stops
// at the next control, which the refusal left hidden or disabled. The
// message box, not the control, is the cause the user needs to read.
#pragma once

#include <optional>
#include <string>

class CMC_Setup;

namespace axhost {

// A message box a scripted run showed, with the script line it came up on.
struct ShownMessage {
  std::string text;
  int line = 0;
};

// What the setup must change for the dialog to accept the action it
// refused with `message`: the parameters that the refusal compares, with
// their labels in the dialog and their values, "" for a message that is no
// refusal the plug-in's tests show.
std::string RefusalAdvice(const std::string& message, const CMC_Setup& setup);

// `failure` ("line N: ...") of a run that stopped at script line
// `failedLine`, with the message box that explains it: one shown on that
// line or the one before, when the line stopped because its control is
// hidden or disabled. Nothing when no message box explains it.
// `userScript`: the user wrote the script, so its line stays in the text;
// otherwise the command's own actions are left unsaid.
std::optional<std::string> ExplainStop(const std::string& failure, int failedLine,
                                       const std::optional<ShownMessage>& message, const CMC_Setup& setup,
                                       bool userScript);

// "the dialog refused: "MESSAGE"" with the advice, for a test that was
// never started because of `message`; nothing when it is no refusal.
std::optional<std::string> ExplainNotStarted(const std::optional<ShownMessage>& message, const CMC_Setup& setup);

}  // namespace axhost
