// Numeric routines shared by the math natives: number conversions of
// argument cells, the angle preparation of the trigonometric natives, the
// inverse trigonometric body and the engine behind max and min. They work on
// cells of the current argument frame.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr double NUM_PI = 3.141592653589793;
constexpr double NUM_EPSILON = 2.220446049250313e-16;
constexpr double NUM_LN2 = 0.6931471805599453;
constexpr double NUM_E = 2.718281828459045;

// An integer! gives its value; a float! is truncated toward zero. A float
// outside the 32-bit range, infinite or NaN raises script type-limit with
// integer!.
i32 number_to_int(const ValueCell* cell);
// An integer! converted; any other cell's 64-bit float.
double number_to_float(const ValueCell* cell);

// Frame cell 0 becomes a float! in place: an integer! is converted, a
// percent! retyped (same bits), a float! stays. Returns the value.
double math_arg_to_float();

// Folding modes of degree_to_radians.
enum AngleFold : i32 {
    ANGLE_FOLD_TANGENT = 0,  // into -90..90 by adding or subtracting 180
    ANGLE_FOLD_COSINE = 1,   // into -180..180 only
    ANGLE_FOLD_SINE = 2,     // into -90..90 by reflection about 90 or -90
};
// Folds an angle in degrees into range and converts it to radians.
double degree_to_radians(double degrees, i32 mode);
// Frame cell 0 as the angle in radians: converted to float!, then folded and
// converted from degrees unless radians is set.
double trig_arg(bool radians, i32 mode);

// Inverse trigonometric functions on frame cell 0: kind 0 arctangent,
// 1 arccosine, 2 arcsine; the result in degrees unless radians is set. Any
// other kind is a fault of the runtime (error 101).
double arc_trig(bool radians, i32 kind);

// The body of max (is_max) and min on frame cells 0 and 1; the result
// replaces cell 0.
void maxmin_values(bool is_max);

}  // namespace zan
