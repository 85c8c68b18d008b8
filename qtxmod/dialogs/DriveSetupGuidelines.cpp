// The guideline assistant's steps through the Drive Setup dialog, in the
// order a machine is commissioned.
#include "DriveSetupGuidelines.h"

const char* const kDriveSetupGuidelines[] = {
    "Step 1.\tIn the <<External reference>> group box, select <<Yes>> if your drive gets a position, "
    "speed or torque reference from an external device. Press the <<Setup>> button to select the "
    "reference type: analogue or pulse & direction or incremental encoder and its parameters.",
    "Step 2.\tIn the <<Drive operation parameters>> group box, set the value of the DC voltage power "
    "supply. Use the <<Detect>> button to measure its actual value as applied to the drive. Also set "
    "the <<Current limit>> parameter, e.g. the maximum current value used by the drive to control the "
    "motor.",
    "Step 3.\tIn the <<Current controller>> group box, set the current controller parameters Kp "
    "(proportional) and Ki (integral). Use the <<Tune & Test>> button to automatically compute the "
    "current controller parameters and to test the current loop behavior.",
    "Step 4.\tIn the <<Speed Controller>> group box, set the speed controller parameters Kp "
    "(proportional), Ki (integral), Integral limit (saturation limit for the integral term of the "
    "controller) and the acceleration Feedforward. Use the <<Tune & Test>> button to automatically "
    "compute the speed controller parameters and to test the speed loop response. Before tuning the "
    "speed controller, make sure to set the right value for the ratio load mass / motor mass or to "
    "identify the total mass. Note that the controller tuning does not include the acceleration "
    "feedforward. Set initially this value to 0, and then establish the other controller parameters. "
    "Finally increase gradually the acceleration feedforward and check the speed loop response.",
    "Step 5.\tIn the <<Position Controller>> group box, set the position controller parameters Kp "
    "(proportional), Ki (integral), Kd (derivative), Kd filter (filtering coefficient for the "
    "derivative term), Integral limit (saturation limit for the integral term of the controller), "
    "Speed limit (saturation limit for the position controller output, seen as a speed reference "
    "value), acceleration and speed feedforward. Use the <<Tune & Test>> button to automatically "
    "compute the position controller parameters and to test the position loop behavior. Before tuning "
    "the position controller, make sure to set the right value for the ratio load mass / motor mass "
    "or to identify the total mass. Note that the controller tuning does not include the acceleration "
    "and speed feedforward. Set initially these values to 0, and then establish the other controller "
    "parameters. Finally increase gradually the acceleration and speed feedforward and check the "
    "speed loop behavior.",
    "Step 6.\tIn the <<Protections>> group box, select and parameterize the protections that you want "
    "to activate.",
    "Step 7. In the <<External brake resistor>> group box, check <<Connected>> if you have a brake "
    "resistor connected to the drive. Set the voltage level at which the drive starts to clamp the "
    "supply via the brake resistor.",
    "Step 8. In the <<Inputs polarity>> check box, select the active levels for the Enable and the "
    "two limit switch inputs.",
    "Step 9. Select the start method to be used. For the method <<Move till aligned with phase A>>, "
    "set up the current value to use during the motor start and the time needed to align the motor "
    "first on phase B and then on phase A. For the method <<Motionless start>>, use the <<Tune & "
    "Test>> button set the electric angle controller parameters and to test the motionless start.",
    nullptr,
};
