#pragma once
// The toolkit's cap on what one image read may allocate is a single value for the whole
// process. A read that sets a cap of its own for a few hostile bytes would set it for every
// other thread's read as well, and a good large picture decoding at the same moment failed as
// if it were damaged. While an instance lives, the cap is the one it asked for: reads held to
// the largest decode run side by side, a read with another cap runs alone and puts the largest
// back when it ends.

namespace kpv {

class ToolkitReadLimit {
public:
    // The cap of a read held to no less than the largest decode allowed (megabytes).
    static int wholeFrameMegabytes();

    explicit ToolkitReadLimit(int megabytes);
    ~ToolkitReadLimit();
    ToolkitReadLimit(const ToolkitReadLimit&) = delete;
    ToolkitReadLimit& operator=(const ToolkitReadLimit&) = delete;

private:
    bool m_alone = false;
};

}  // namespace kpv
