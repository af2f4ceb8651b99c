#pragma once

// How the shown image is turned and mirrored: a rotation about the view axis and two flip angles
// (half turns about the vertical and horizontal axes), all in degrees. Flips are angles rather than
// booleans so that a flip can be animated as a turn. The value never changes after construction, so
// it is passed and shared by value.


// User commands that change the angle.
enum RotateAction : int {
    RotateActionLeft = 1,
    RotateActionRight = 2,
    RotateActionFlipHorizontal = 3,
    RotateActionFlipVertical = 4,
};

class LMImageRotateAngle {
public:
    // The zero angle.
    LMImageRotateAngle() = default;
    LMImageRotateAngle(double angleRotate, double angleHorizontalFlip, double angleVerticalFlip)
        : m_angleRotate(angleRotate), m_angleHorizontalFlip(angleHorizontalFlip), m_angleVerticalFlip(angleVerticalFlip) {}

    static LMImageRotateAngle zeroAngle() { return LMImageRotateAngle(); }

    // Positive turns the image clockwise on screen.
    double angleRotate() const { return m_angleRotate; }
    double angleHorizontalFlip() const { return m_angleHorizontalFlip; }
    double angleVerticalFlip() const { return m_angleVerticalFlip; }

    // A flip is in force whenever its angle is not exactly 0; meaningful on normalised values,
    // where a flip angle is 0 or 180. A NaN counts as flipped.
    bool isHorizontalFlipped() const { return m_angleHorizontalFlip != 0.0; }
    bool isVerticalFlipped() const { return m_angleVerticalFlip != 0.0; }
    bool isRotatedOrFlipped() const { return m_angleRotate != 0.0 || isHorizontalFlipped() || isVerticalFlipped(); }

    // Exact comparison of all three angles: 0 and 360 differ.
    bool isEqual(const LMImageRotateAngle &other) const;
    bool operator==(const LMImageRotateAngle &other) const { return isEqual(other); }

    // The value after one user command (a RotateAction). A mirrored image turns the other way, so
    // that "rotate left" always turns what the user sees to the left. Unknown actions change nothing.
    LMImageRotateAngle angleByRotateAction(int action) const;
    // angleRotate + increase, flips unchanged, not normalised.
    LMImageRotateAngle angleByIncreaseAngle(double increase) const;
    // Linear blend from beginAngle (p = 0) to this value (p = 1), angle by angle, without normalising
    // first: an animation from 0 to -90 runs through -45.
    LMImageRotateAngle middleAngleFromBeginAngle(const LMImageRotateAngle &beginAngle, double elapsePercent) const;
    // Each angle as whole degrees in 0..359; fractions are dropped, not rounded.
    LMImageRotateAngle normalizeAngle() const;

    // One angle brought into whole degrees 0..359 (truncated toward zero first). Values that are not
    // finite give 0.
    static double normalizeDegrees(double degrees);

private:
    double m_angleRotate = 0;
    double m_angleHorizontalFlip = 0;
    double m_angleVerticalFlip = 0;
};
