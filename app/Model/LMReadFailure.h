#pragma once

// Why a picture could not be read, kept for the person who asked for it. While a scope lives on a
// thread, every failed read of a file on that thread (opening it, its description, a decode, the
// memory all decodes may use) tells it the reader's own reason; the first one told is kept, since
// a later step only fails for the same cause. Scopes nest: the innermost one hears. Without a
// scope nothing is kept and a failure costs nothing more than before.

#include <QString>

class LMReadFailure {
public:
    LMReadFailure();
    ~LMReadFailure();
    LMReadFailure(const LMReadFailure &) = delete;
    LMReadFailure &operator=(const LMReadFailure &) = delete;

    // Why the first failed read failed, in words for a person (no path, no decoder's jargon);
    // empty when nothing failed or nothing said why.
    QString reason() const { return m_reason; }

    // Tells the innermost scope of this thread, if there is one, that a read of `path` failed
    // because of `why` (a reader's message, which may begin with the path).
    static void tell(const QString &path, const QString &why);

private:
    LMReadFailure *m_outer = nullptr;
    QString m_reason;
};
