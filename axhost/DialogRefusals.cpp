#include "DialogRefusals.h"

#include "CommissionRecord.h"
#include "FeatureProbes.h"
#include "axcore/MessageText.h"
#include "axcore/Setup.h"

namespace axhost {
namespace {

// The refusals of the test dialogs: the start of the message, and the two
// parameters it compares, each with its label in the dialog. The first must
// be at least the second.
struct Refusal {
  const char* message;
  const char* upper;
  const char* upperLabel;
  const char* lower;
  const char* lowerLabel;
};
constexpr Refusal kRefusals[] = {
    // Speed and position tuning, on the way to the Test page.
    {"Over current protection must be greater than Drive current limit", "TestProtectionCurrent",
     "Over current protection", "TestLimitCurrent", "Drive current limit"},
    // Current tuning, on the way to the Test page.
    {"Over current protection must be greater or equal to Test current", "TestProtectionCurrent",
     "Over current protection", "TestCurrent", "Test current"},
    // The total mass test, on Start.
    {"I protection must be greater or equal to Test current", "TestProtectionCurrent", "I protection",
     "TestCurrent", "Test current"},
};

std::string Described(const CMC_Setup& setup, const char* name, const char* label, const char* now) {
  std::string text = std::string(name) + " (\"" + label + "\", " + now;
  const CMC_Parameter* p = FindParameterQuiet(setup, name);
  if (p == nullptr) return text + "not in the setup)";
  return text + ShortNumber(p->GetValueInBaseUnit()) + (*p->GetUnit() ? " " : "") + p->GetUnit() + ")";
}

bool ControlUnusable(const std::string& failure) {
  return failure.find(" is hidden") != std::string::npos || failure.find(" is disabled") != std::string::npos;
}

std::string Quoted(const ShownMessage& message, const CMC_Setup& setup) {
  std::string text = "the dialog refused: " + axcore::QuoteForMessage(message.text);
  if (std::string advice = RefusalAdvice(message.text, setup); !advice.empty()) text += "; " + advice;
  return text;
}

}  // namespace

std::string RefusalAdvice(const std::string& message, const CMC_Setup& setup) {
  for (const Refusal& refusal : kRefusals) {
    if (message.rfind(refusal.message, 0) != 0) continue;
    return "raise " + Described(setup, refusal.upper, refusal.upperLabel, "now ") + " to at least " +
           Described(setup, refusal.lower, refusal.lowerLabel, "") + ", or lower " + refusal.lower;
  }
  return "";
}

std::optional<std::string> ExplainStop(const std::string& failure, int failedLine,
                                       const std::optional<ShownMessage>& message, const CMC_Setup& setup,
                                       bool userScript) {
  if (!message || message->line < failedLine - 1 || !ControlUnusable(failure)) return std::nullopt;
  return (userScript ? failure + ", after " : std::string()) + Quoted(*message, setup);
}

std::optional<std::string> ExplainNotStarted(const std::optional<ShownMessage>& message, const CMC_Setup& setup) {
  if (!message || RefusalAdvice(message->text, setup).empty()) return std::nullopt;
  return Quoted(*message, setup);
}

}  // namespace axhost
