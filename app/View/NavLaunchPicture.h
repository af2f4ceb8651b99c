#pragma once

// The quick picture of the file the program is started with, made on a thread of its own from the
// first moment of the run, so that it is ready when the viewer, its window built, asks for it.
// main() makes one before the application object and keeps it for the run; the load workers find
// it through current() and take the picture once.

#include "Model/LMFileImgBaseInfo.h"
#include "imageio/FileAccess.h"

#include <QImage>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class NavLaunchPicture {
public:
    // Makes the picture of a file (any thread), null when it cannot.
    using Maker = std::function<QImage(const QString &path)>;

    // Starts making the picture of `path` when it names a file; does nothing otherwise.
    NavLaunchPicture(const QString &path, Maker maker);
    // Waits for the picture being made.
    ~NavLaunchPicture();
    NavLaunchPicture(const NavLaunchPicture &) = delete;
    NavLaunchPicture &operator=(const NavLaunchPicture &) = delete;

    // The one made for the run, or nullptr.
    static NavLaunchPicture *current();

    // The picture of the file `base` describes, once: waits while it is being made. Null for
    // another file, a file that changed since it was read (another identity than `base`'s), a
    // picture that could not be made, and after it was taken.
    QImage take(const LMFileImgBaseInfo &base);

private:
    void make(Maker maker);

    QString m_path; // resolved, as the viewer names its files
    std::mutex m_mutex;
    std::condition_variable m_made;
    bool m_done = false;
    bool m_taken = false;
    kpv::FileIdentity m_identity;
    QImage m_image;
    std::thread m_thread;
};
