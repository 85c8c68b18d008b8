// The programs that leave the motor unpowered and keep a drive variable
// current while the user acts on the bench: the encoder connection test
// (the user moves the mover by hand and watches "APOS") and the analogue
// reference test (the user sets a voltage and watches "AD5").
#include "ProgramSupport.h"

namespace virtualdrive {
namespace {

// "Encoder_Connection_Test": the power stage stays off, so the mover is free
// to be pushed; the encoder count "APOS", set to 0 when the program starts,
// follows it every period (the firmware's own measurement), so the host sees
// the motion since the start. The program runs until the host writes 1
// into the drive variable "var_i2", which it clears when it starts; it then
// sets "STARTED" and ends.
class EncoderConnectionTest : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    if (m_stop == nullptr) {
      c.drive.TurnAxisOff();
      c.drive.ZeroPositionCounter();
      c.drive.SetOutput("var_i2", 0.0);
      m_stop = c.drive.VariableAddress("var_i2");
      return true;
    }
    if (*m_stop != 1.0) return true;
    c.Set("STARTED", 1.0);
    return false;
  }
  bool Passive() const override { return true; }

 private:
  const double* m_stop = nullptr;
};

// "Analogue_Reference_Test": one conversion of the analogue reference input
// into "AD5" every period, the power stage off, until another program is
// downloaded.
class AnalogueReferenceTest : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    if (!m_begun) {
      c.drive.TurnAxisOff();
      m_begun = true;
    }
    c.drive.SampleAnalogueInput();
    return true;
  }
  bool Passive() const override { return true; }

 private:
  bool m_begun = false;
};

}  // namespace

std::unique_ptr<TestProgram> MakeEncoderConnectionTest() { return std::make_unique<EncoderConnectionTest>(); }
std::unique_ptr<TestProgram> MakeAnalogueReferenceTest() { return std::make_unique<AnalogueReferenceTest>(); }

}  // namespace virtualdrive
