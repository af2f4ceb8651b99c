#pragma once

// The quick picture of the file the program is started with, made on a thread of its own while
// the rest of the program starts, so that it is ready when the viewer, its window built, asks for
// it. main() makes one right after the application object (the thread decodes with Qt, which
// must not run before that object exists) and keeps it for the run; the load workers find it
// through current() and take the picture once.

#include "Model/LMFileImgBaseInfo.h"
#include "imageio/FileAccess.h"

#include <QImage>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class NavLaunchPicture {
public:
    // Makes the picture of a file (any thread), null when it cannot.
    using Maker = std::function<QImage(const QString &path)>;
    // The quick picture (a small thumbnail) and the sharp one (the fit-in image the view asks for
    // first), each made at most once a run.
    enum Kind { QuickPicture, SharpPicture };

    // Starts making the picture of `path` when it names a file; does nothing otherwise.
    NavLaunchPicture(const QString &path, Maker maker, Kind kind = QuickPicture);
    // Waits for the picture being made, unless it was abandoned.
    ~NavLaunchPicture();
    NavLaunchPicture(const NavLaunchPicture &) = delete;
    NavLaunchPicture &operator=(const NavLaunchPicture &) = delete;

    // The one of that kind made for the run, or nullptr.
    static NavLaunchPicture *current(Kind kind = QuickPicture);
    // The first photo is on screen: the file opened for the start's pictures is closed, whether
    // or not a load took them (one the view did not want would otherwise keep the file open, and
    // its drive busy, for the whole run). Main thread.
    static void closeFiles();

    // The picture of the file `base` describes, once: waits while it is being made. Null for
    // another file, a file that changed since it was read (another identity than `base`'s), a
    // picture that could not be made, and after it was taken.
    QImage take(const LMFileImgBaseInfo &base);

    // No load will ask for the picture (this copy of the program hands its files to another and
    // ends): it is withdrawn, and the decode under way is left to finish on its own, so that
    // neither this call nor the destructor waits for it. Its result is dropped.
    void abandon();

private:
    // What the thread making the picture shares with the loads; kept alive by the thread as long
    // as it runs, so that an abandoned decode outlives this object safely.
    struct State {
        std::mutex mutex;
        std::condition_variable made;
        bool done = false;
        bool taken = false;
        kpv::FileIdentity identity;
        QImage image;
        // The file opened once for the run's start: the picture's decode and the first load's
        // description and decode share it (a live mapping is answered to every later opening),
        // until the picture is taken or the first photo is on screen.
        std::shared_ptr<const kpv::FileContents> opening;
        bool filesClosed = false;
    };
    static void make(const std::shared_ptr<State> &state, const QString &path, Maker maker);

    QString m_path; // resolved, as the viewer names its files
    Kind m_kind = QuickPicture;
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::thread m_thread;
};
