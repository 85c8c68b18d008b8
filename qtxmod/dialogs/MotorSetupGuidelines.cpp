// The guideline assistant's steps through the Motor Setup dialog: the
// motor's data first, each checked by its test, then the encoder and the
// transmission to the load.
#include "MotorSetupGuidelines.h"

const char* const kMotorSetupGuidelines[] = {
    "Step 1. Select your motor from a database. If your motor does not exist in any database, proceed through "
    "all the next steps in order to define your motor and sensors data. In either case, use the tests from the "
    "next steps to verify/detect the motor and sensors parameters and operation.",
    "Step 2. Check the values for nominal and peak currents. Press the <<Test Phase Connections>> button to "
    "verify that your motor phases are well connected to the drive.",
    "Step 3. Check the magnetic pole pitch and the force constant values.",
    "Step 4. Check the resistance and inductance values. Press the <<Identify Resistance and Inductance>> "
    "button to autodetect these parameters.",
    "Step 5. Check the value of the motor moving part mass.",
    "Step 6. Use the <<Test Connections>> button in order to verify the presence of encoder signals. Check the "
    "value of the <<Resolution>> parameter giving the encoder resolution. Press the <<Detect resolution>> button "
    "to automatically detect this value.",
    "Step 7. In <<Transmission to load>> select the transmission type and the ratio by setting the "
    "correspondance between the motor and load displacements.",
    "Step 8. If you want to save your motor data, select the USER database, and then press the <<Save As>> "
    "button.",
    nullptr,
};
